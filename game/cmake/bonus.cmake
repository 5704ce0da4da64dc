# The time-attack and collect-time modes through the game screen, with real fonts and
# post-processing on a GL context.
zelv_test(game_bonus_modes_test GL SOURCES tests/BonusModesTest.cpp
          DEPS zelv_game zelv_graphics_testsupport zelv_level_builder TIMEOUT 120)
add_dependencies(game_bonus_modes_test pak)
