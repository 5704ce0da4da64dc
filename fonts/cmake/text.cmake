# Text: font and string tables, localized lookup, layout and drawing, subtitles.
target_link_libraries(zelv_fonts PUBLIC zelv_os zelv_services zelv_graphics zelv::boost)

zelv_test(fonts_tables_test SOURCES tests/HashAndTablesTest.cpp DEPS zelv_fonts)
zelv_test(fonts_layout_test SOURCES tests/LayoutTest.cpp DEPS zelv_fonts)
zelv_test(fonts_subtitles_test SOURCES tests/SubtitlesTest.cpp DEPS zelv_fonts)
zelv_test(fonts_context_test SOURCES tests/ContextTest.cpp DEPS zelv_fonts)
zelv_test(fonts_draw_test SOURCES tests/DrawTest.cpp DEPS zelv_fonts zelv_graphics_testsupport)
# The render test and the benchmark read the tables from the built data archive.
zelv_test(fonts_render_test GL SOURCES tests/RenderTest.cpp DEPS zelv_fonts zelv_graphics_testsupport)
if(TARGET fonts_render_test)
  add_dependencies(fonts_render_test pak)
endif()

zelv_benchmark(fonts_text_bench SOURCES bench/TextBench.cpp DEPS zelv_fonts)
if(TARGET fonts_text_bench)
  add_dependencies(fonts_text_bench pak)
endif()

zelv_fuzzer(fonts_font_table_fuzz SOURCES fuzz/FontTableFuzz.cpp DEPS zelv_fonts
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/fonts_font_table_fuzz)
zelv_fuzzer(fonts_string_table_fuzz SOURCES fuzz/StringTableFuzz.cpp DEPS zelv_fonts
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/fonts_string_table_fuzz)
zelv_fuzzer(fonts_subrip_fuzz SOURCES fuzz/SubRipFuzz.cpp DEPS zelv_fonts
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/fonts_subrip_fuzz)
