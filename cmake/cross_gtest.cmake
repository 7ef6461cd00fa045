# GoogleTest for a cross build: Debian's libgtest-dev only holds host
# libraries, so build the framework from the sources of the googletest
# package with the cross compiler, and let find_package(GTest) find these
# targets (see FindGTest.cmake beside this file).
set(TESSARON_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${TESSARON_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "Cross build needs GoogleTest sources in ${TESSARON_GTEST_SOURCE_DIR} "
                        "(Debian package googletest)")
endif()

# The framework is not ours to keep warning-free: build it without our flags.
get_directory_property(tessaron_saved_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${TESSARON_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${tessaron_saved_options}")

foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
    endif()
endforeach()
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/cross)
