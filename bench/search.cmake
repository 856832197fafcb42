# bench_search: Enter in the query box to the first record page, through the document, against the
# engine's page fetch alone, on a library made by make-sample-library --records.
if(TOMEVA_WITH_KMS AND TARGET make-sample-library)
  add_executable(bench_search ${CMAKE_CURRENT_SOURCE_DIR}/bench_search.cc)
  target_link_libraries(bench_search PRIVATE tomeva_kms tomeva_engine_kms tomeva_core tomeva_warnings)
  target_compile_definitions(bench_search PRIVATE
    TOMEVA_SAMPLE_MAKER="$<TARGET_FILE:make-sample-library>")
  add_dependencies(bench_search make-sample-library)
endif()
