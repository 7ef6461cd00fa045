# The daemon's outputs beyond the UI datagrams: JSON lines and MQTT. Kept out
# of tessaron_core, which needs only the standard library.
find_package(nlohmann_json 3 REQUIRED)
add_library(tessaron_outputs STATIC
    ${CMAKE_SOURCE_DIR}/src/outputs/event_json.cpp
    ${CMAKE_SOURCE_DIR}/src/outputs/json_lines_sink.cpp
    ${CMAKE_SOURCE_DIR}/src/outputs/output_options.cpp)
target_link_libraries(tessaron_outputs PUBLIC tessaron_core nlohmann_json::nlohmann_json)
target_compile_definitions(tessaron_outputs PUBLIC TESSARON_HAVE_OUTPUTS=1)
if(TESSARON_WITH_MQTT)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(MOSQUITTO REQUIRED IMPORTED_TARGET libmosquitto)
    target_sources(tessaron_outputs PRIVATE ${CMAKE_SOURCE_DIR}/src/outputs/mqtt_sink.cpp)
    target_link_libraries(tessaron_outputs PUBLIC PkgConfig::MOSQUITTO)
    target_compile_definitions(tessaron_outputs PUBLIC TESSARON_HAVE_MQTT=1)
endif()
