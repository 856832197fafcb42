# bench_pdf_highlight: the PDF highlight's client side (read the text copy, match, write the
# position file, build the execute data) against HighLightKeyWords alone on the same text.
add_executable(bench_pdf_highlight ${CMAKE_CURRENT_LIST_DIR}/bench_pdf_highlight.cc)
target_link_libraries(bench_pdf_highlight PRIVATE tomeva_core tomeva_warnings)
