# bench_highlight: keyword location over a 20 MB GBK text against GNU grep on the same file.
add_executable(bench_highlight ${CMAKE_CURRENT_LIST_DIR}/bench_highlight.cc)
target_link_libraries(bench_highlight PRIVATE tomeva_core tomeva_warnings benchmark::benchmark)
