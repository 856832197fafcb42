# The XML reader against pugixml on the same in-memory inputs.
find_package(pugixml REQUIRED)
add_executable(bench_xml ${CMAKE_CURRENT_SOURCE_DIR}/bench_xml.cc)
target_link_libraries(bench_xml PRIVATE tomeva_core tomeva_warnings benchmark::benchmark
                      pugixml::pugixml)
