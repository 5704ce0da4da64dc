# Cut-scenes and the tutorial inside the game screen, on builder levels, without GL.
zelv_test(game_intro_test SOURCES tests/CutsceneTest.cpp
          DEPS zelv_game zelv_level_builder TIMEOUT 120)
add_dependencies(game_intro_test pak)
# Their overlays on a real GL target.
zelv_test(game_intro_draw_test GL SOURCES tests/CutsceneDrawTest.cpp
          DEPS zelv_game zelv_level_builder zelv_graphics_testsupport TIMEOUT 120)
add_dependencies(game_intro_draw_test pak)
