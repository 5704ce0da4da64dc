# Menu toolkit: the menu interface, tweens, buttons, focus, small widgets and question boxes.
target_link_libraries(zelv_menus PUBLIC zelv_os zelv_services zelv_graphics zelv_fonts zelv_audio zelv::gles2
                      zelv::boost)
# The level loader reads level files; the level select reads the save record.
target_link_libraries(zelv_menus PUBLIC zelv_level zelv_save)

zelv_test(menus_tweens_test SOURCES tests/TweensTest.cpp DEPS zelv_menus)
# Art, fonts and hit areas come from the built data archive.
zelv_test(menus_buttons_test GL SOURCES tests/ButtonsTest.cpp DEPS zelv_menus zelv_graphics_testsupport)
add_dependencies(menus_buttons_test pak)
zelv_test(menus_confirmation_box_test GL SOURCES tests/ConfirmationBoxTest.cpp DEPS zelv_menus zelv_graphics_testsupport)
add_dependencies(menus_confirmation_box_test pak)
zelv_test(menus_confirmation_screens_test GL SOURCES tests/ConfirmationBoxScreensTest.cpp
          DEPS zelv_menus zelv_graphics_testsupport TIMEOUT 120)
add_dependencies(menus_confirmation_screens_test pak)
zelv_fuzzer(menus_hit_rect_fuzzer SOURCES fuzz/HitRectFuzzer.cpp DEPS zelv_menus
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/menus_hit_rect_fuzzer)
zelv_test(menus_steady_frame_test GL SOURCES tests/SteadyFrameTest.cpp DEPS zelv_menus zelv_graphics_testsupport zelv_allocation_counter)
add_dependencies(menus_steady_frame_test pak)
zelv_benchmark(menus_bench SOURCES bench/MenuBench.cpp DEPS zelv_menus)
zelv_test(menus_missing_art_test GL SOURCES tests/MissingArtTest.cpp DEPS zelv_menus zelv_graphics_testsupport)
# The level loader through the app frame on real contexts, with a stand-in game screen.
zelv_test(menus_level_loader_test GL SOURCES tests/LevelLoaderTest.cpp ${PROJECT_SOURCE_DIR}/os/tests/ZipWriter.cpp
          DEPS zelv_menus zelv_graphics_testsupport TIMEOUT 120)
add_dependencies(menus_level_loader_test pak)
# The level select on the real contexts, the built data and a save folder of its own.
zelv_test(menus_level_select_test GL SOURCES tests/LevelSelectTest.cpp ${PROJECT_SOURCE_DIR}/os/tests/ZipWriter.cpp
          DEPS zelv_menus zelv_save zelv_graphics_testsupport TIMEOUT 120)
add_dependencies(menus_level_select_test pak)
zelv_benchmark(menus_level_load_bench SOURCES bench/LevelLoadBench.cpp DEPS zelv_menus zelv_save zelv::zlib)
