# What `make graph` draws (cmake --graphviz): the program's own libraries and programs and the
# links between them. Tests, benchmarks, fuzz targets, outside libraries and the build's helper
# targets are left out, so the picture is the layering and nothing else.
set(GRAPHVIZ_GRAPH_NAME "tomeva_targets")
set(GRAPHVIZ_EXTERNAL_LIBS FALSE)
set(GRAPHVIZ_INTERFACE_LIBS TRUE)
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
set(GRAPHVIZ_IGNORE_TARGETS
  ".*_test$" "^bench_.*" "^fuzz_.*" "^tomeva_warnings$" "^tomeva_core$" "^tomeva_bench_corpus$"
  "^tomeva_test_support$" "^tomeva_gui_test_support$" "^tomeva_registry_contract$" "^wait_caller_module$" "^GTest::.*" "^Qt6::.*" "^PkgConfig::.*")
