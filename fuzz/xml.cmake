# Fuzz targets of the XML reader, the catalogue scrambler and record dates.
tomeva_add_fuzzer(fuzz_xml_parse ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_xml_parse.cc)
tomeva_add_fuzzer(fuzz_unscramble_parse ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_unscramble_parse.cc)
tomeva_add_fuzzer(fuzz_date_value ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_date_value.cc)
