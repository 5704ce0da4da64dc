# Results board and its recording: the save record, the level catalog and the game services.
target_link_libraries(zelv_menus PUBLIC zelv_save zelv_level)
zelv_test(menus_result_recording_test SOURCES tests/ResultRecordingTest.cpp DEPS zelv_menus)
zelv_test(menus_result_texts_test SOURCES tests/ResultTextsTest.cpp DEPS zelv_menus)
zelv_test(menus_results_menu_test GL SOURCES tests/ResultsMenuTest.cpp DEPS zelv_menus zelv_graphics_testsupport)
add_dependencies(menus_results_menu_test pak)
zelv_test(menus_options_test GL SOURCES tests/OptionsTest.cpp DEPS zelv_menus zelv_graphics_testsupport)
add_dependencies(menus_options_test pak)
