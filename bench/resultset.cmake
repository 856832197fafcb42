# bench_resultset: a page fetch through the result set against the same engine calls made directly.
if(TOMEVA_WITH_KMS)
  add_executable(bench_resultset ${CMAKE_CURRENT_SOURCE_DIR}/bench_resultset.cc)
  target_link_libraries(bench_resultset PRIVATE tomeva_kms tomeva_engine_kms tomeva_core tomeva_bench_corpus
                        tomeva_warnings)
endif()
