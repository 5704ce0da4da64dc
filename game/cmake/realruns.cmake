# The real executable under Xvfb (the test runs itself under xvfb-run), driven by XTest input:
# pause and resume, level01 to its results board, the subtitles option across a restart.
zelv_test(game_real_runs_test SOURCES tests/RealRunsTest.cpp
          DEPS zelv_testing_game_window zelv_testing_x11 zelv_agent zelv_save zelv_level zelv_services GL NOMAIN
          TIMEOUT 900)
if(TARGET game_real_runs_test)
  add_dependencies(game_real_runs_test zelv pak)
endif()
if(TEST game_real_runs_test)
  set_property(TEST game_real_runs_test APPEND PROPERTY ENVIRONMENT
    LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/os/shell/tests/lsan-x11.supp)
endif()
# The window around the game: the boards drawn inside it, the loss of focus, the sampler played.
zelv_test(game_window_runs_test SOURCES tests/WindowRunsTest.cpp
          DEPS zelv_testing_game_window zelv_testing_x11 GL NOMAIN TIMEOUT 600)
if(TARGET game_window_runs_test)
  add_dependencies(game_window_runs_test zelv pak)
endif()
if(TEST game_window_runs_test)
  set_property(TEST game_window_runs_test APPEND PROPERTY ENVIRONMENT
    LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/os/shell/tests/lsan-x11.supp)
endif()
