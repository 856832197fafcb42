# The corpus generator shared by benchmarks, and bench_kms: the engine against Xapian used directly
# and against SQLite FTS5 on the same records and queries.
add_library(tomeva_bench_corpus STATIC ${CMAKE_CURRENT_SOURCE_DIR}/corpus.cc)
target_include_directories(tomeva_bench_corpus PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tomeva_bench_corpus PUBLIC tomeva_core PRIVATE tomeva_warnings)

if(TOMEVA_WITH_KMS)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
  add_executable(bench_kms ${CMAKE_CURRENT_SOURCE_DIR}/bench_kms.cc)
  target_link_libraries(bench_kms PRIVATE tomeva_kms tomeva_kms_engine tomeva_bench_corpus
                        PkgConfig::SQLITE3 tomeva_warnings)
endif()

# bench_kms_fold: the folding term scheme against the pair scheme, build and queries, in one run.
if(TOMEVA_WITH_KMS)
  add_executable(bench_kms_fold ${CMAKE_CURRENT_SOURCE_DIR}/bench_kms_fold.cc)
  target_link_libraries(bench_kms_fold PRIVATE tomeva_kms tomeva_bench_corpus benchmark::benchmark
                        tomeva_warnings)
endif()
