# The pause and unpause screens, end to end through the app frame on real contexts.
zelv_test(game_pause_screens_test GL SOURCES tests/PauseScreensTest.cpp
          DEPS zelv_game zelv_graphics_testsupport TIMEOUT 120)
add_dependencies(game_pause_screens_test pak)
zelv_benchmark(game_pause_bench SOURCES bench/PauseScreenBench.cpp DEPS zelv_game zelv_shell)
# A level's flow through the app frame with the real loader, game, pause and end-of-level screens.
zelv_test(game_level_flow_test GL SOURCES tests/LevelFlowTest.cpp
          DEPS zelv_game zelv_graphics_testsupport zelv_level_builder TIMEOUT 180)
add_dependencies(game_level_flow_test pak)
