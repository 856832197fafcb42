# bench_shards: the engine searching K shards through one xapian-tcpsrv per shard (a station)
# against the same records in one index, with Xapian direct on both as the peer, and the check
# that every way gives the one index's hits in its order.
if(TOMEVA_WITH_KMS)
  add_executable(bench_shards ${CMAKE_CURRENT_SOURCE_DIR}/bench_shards.cc
                 ${PROJECT_SOURCE_DIR}/tests/kms/remote_test_server.cc)
  target_include_directories(bench_shards PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(bench_shards PRIVATE tomeva_kms tomeva_kms_engine tomeva_bench_corpus
                        tomeva_warnings)
endif()
