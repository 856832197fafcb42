# bench_remote: page fetch through Xapian's remote backend (xapian-tcpsrv on loopback) against the
# index itself, and 16 stations searching one server at once against one station.
if(TOMEVA_WITH_KMS)
  add_executable(bench_remote ${CMAKE_CURRENT_SOURCE_DIR}/bench_remote.cc
                 ${PROJECT_SOURCE_DIR}/tests/kms/remote_test_server.cc)
  target_include_directories(bench_remote PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(bench_remote PRIVATE tomeva_kms tomeva_bench_corpus benchmark::benchmark
                        tomeva_warnings)
endif()
