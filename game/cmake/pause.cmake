# The pause and unpause screens, end to end through the app frame on real contexts.
zelv_test(game_pause_screens_test GL SOURCES tests/PauseScreensTest.cpp
          DEPS zelv_game zelv_graphics_testsupport TIMEOUT 120)
add_dependencies(game_pause_screens_test pak)
zelv_benchmark(game_pause_bench SOURCES bench/PauseScreenBench.cpp DEPS zelv_game zelv_shell)
