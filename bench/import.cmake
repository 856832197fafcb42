# bench_import: the new-book import of a 20,000-record book against building its index alone.
if(TOMEVA_WITH_KMS)
  add_executable(bench_import ${CMAKE_CURRENT_LIST_DIR}/bench_import.cc)
  target_link_libraries(bench_import PRIVATE tomeva_core tomeva_kms tomeva_warnings
                        benchmark::benchmark)
endif()
