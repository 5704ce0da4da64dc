# The end-of-level screen, end to end through the app frame on real contexts.
zelv_test(game_end_of_level_test GL SOURCES tests/EndOfLevelTest.cpp
          DEPS zelv_game zelv_graphics_testsupport TIMEOUT 120)
add_dependencies(game_end_of_level_test pak)
