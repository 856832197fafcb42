# Fuzz target of the conversations' frame reader. The reader is plain C++; the fuzz build has no
# Qt and so no platform folder, so its one source file is built into the target here.
tomeva_add_fuzzer(fuzz_dde_frame ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_dde_frame.cc
                  ${PROJECT_SOURCE_DIR}/src/platform/dde_frame.cc)
target_include_directories(fuzz_dde_frame PRIVATE ${PROJECT_SOURCE_DIR}/src)
