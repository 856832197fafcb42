# Fuzz target of the engine's query parser, tokeniser and keyword segmentation.
if(TOMEVA_WITH_KMS)
  target_compile_options(tomeva_kms_engine PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
  tomeva_add_fuzzer(fuzz_kms_query ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_kms_query.cc)
  target_link_libraries(fuzz_kms_query PRIVATE tomeva_kms_engine)
endif()
