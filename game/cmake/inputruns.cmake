# The real executable under Xvfb driven by keys: the first key press on a screen acts.
zelv_test(game_input_runs_test SOURCES tests/InputRunsTest.cpp
          DEPS zelv_testing_game_window zelv_testing_x11 GL NOMAIN TIMEOUT 300)
if(TARGET game_input_runs_test)
  add_dependencies(game_input_runs_test zelv pak)
endif()
if(TEST game_input_runs_test)
  set_property(TEST game_input_runs_test APPEND PROPERTY ENVIRONMENT
    LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/os/shell/tests/lsan-x11.supp)
endif()
