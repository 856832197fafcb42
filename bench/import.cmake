# bench_import: the new-book import of a 20,000-record book against building its index alone.
if(TOMEVA_WITH_KMS)
  add_executable(bench_import ${CMAKE_CURRENT_LIST_DIR}/bench_import.cc)
  # The subsystems that call the engine come before the engine's library on the link line: the
  # linker keeps a shared library only for the objects before it that need it.
  target_link_libraries(bench_import PRIVATE tomeva_import tomeva_records tomeva_engine_kms tomeva_kms tomeva_core
                        tomeva_warnings benchmark::benchmark)
endif()
