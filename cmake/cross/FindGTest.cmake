# Used only by cross builds, where cross_gtest.cmake has already built
# GoogleTest from source: the targets are there, nothing to search for.
if(TARGET GTest::gtest AND TARGET GTest::gtest_main)
    set(GTest_FOUND TRUE)
    set(GTEST_FOUND TRUE)
else()
    set(GTest_FOUND FALSE)
    if(GTest_FIND_REQUIRED)
        message(FATAL_ERROR "GoogleTest targets missing; include cmake/cross_gtest.cmake first")
    endif()
endif()
