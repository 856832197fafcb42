# Fuzz target of the border where text from outside becomes GBK: the repair, and the record filter
# and escaper on what it gives.
tomeva_add_fuzzer(fuzz_gbk_border ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_gbk_border.cc)
