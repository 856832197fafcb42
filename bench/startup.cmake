# bench_startup: the desktop program's start-up to the shown main window with a 49-book library
# against an empty one, both written by the sample maker; the real program is started on each.
if(TARGET tomeva AND TARGET make-sample-library)
  add_executable(bench_startup ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cc)
  target_link_libraries(bench_startup PRIVATE tomeva_core tomeva_warnings)
  target_compile_definitions(bench_startup PRIVATE
    TOMEVA_PROGRAM="$<TARGET_FILE:tomeva>"
    MAKE_SAMPLE_LIBRARY="$<TARGET_FILE:make-sample-library>")
  add_dependencies(bench_startup tomeva make-sample-library)
endif()
