# Fuzz targets of the version check's readers of outside input: the version page read as text,
# and the updater's manifest.
tomeva_add_fuzzer(fuzz_version_page ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_version_page.cc)
