# The real executable under Xvfb (the test runs itself under xvfb-run), driven by XTest input:
# pause and resume, level01 to its results board, the subtitles option across a restart, every
# level started, the last level's closing shot; the
# window around the game (the boards drawn inside it, the loss of focus, the sampler played);
# and the first key press on a screen acting. Each entry is given five times or more what it takes
# on two quiet cores: a loaded machine draws the game's frames, which the runs wait on, slower.
zelv_test(game_real_runs_test SOURCES tests/RealRunsTest.cpp
          DEPS zelv_testing_game_window zelv_testing_x11 zelv_agent zelv_save zelv_level zelv_services GL NOMAIN
          TIMEOUT 900 1800)
zelv_test(game_window_runs_test SOURCES tests/WindowRunsTest.cpp
          DEPS zelv_testing_game_window zelv_testing_x11 GL NOMAIN TIMEOUT 600 900)
zelv_test(game_input_runs_test SOURCES tests/InputRunsTest.cpp
          DEPS zelv_testing_game_window zelv_testing_x11 zelv_save zelv_level zelv_services GL NOMAIN TIMEOUT 900 1800)
foreach(run game_real_runs_test game_window_runs_test game_input_runs_test)
  if(TARGET ${run})
    add_dependencies(${run} zelv pak)
  endif()
  if(TEST ${run})
    set_property(TEST ${run} APPEND PROPERTY ENVIRONMENT
      LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/os/shell/tests/lsan-x11.supp)
  endif()
endforeach()
zelv_test_part(game_window_runs_test sampler WindowRuns.TheSamplerIsPlayedToItsGoal TIMEOUT 900 1800)
# Every level started on its own: a test of its own, so that it runs beside the other runs. Under
# the sanitizers the level files are the fuzz targets' seeds and the other runs play levels, so
# this run of the assets each level asks for is left to the normal build.
if(TEST game_real_runs_test AND NOT ZELV_SANITIZE)
  get_test_property(game_real_runs_test ENVIRONMENT runs_env)
  add_test(NAME game_real_runs_levels_test COMMAND game_real_runs_test)
  set_tests_properties(game_real_runs_levels_test PROPERTIES LABELS gl
                       ENVIRONMENT "${runs_env};GTEST_FILTER=RealRuns.EveryLevel*")
  zelv_test_timeout(game_real_runs_levels_test 1800)
endif()
if(TEST game_real_runs_test)
  set_property(TEST game_real_runs_test APPEND PROPERTY ENVIRONMENT GTEST_FILTER=-RealRuns.EveryLevel*)
  # The longest runs as parts of their own, side by side with the rest.
  zelv_test_part(game_real_runs_test last RealRuns.TheLastLevelClosesOnItsClosingShotThenTheCutSceneItsCreditsAndTheHardcoreNotice
                 TIMEOUT 2400 3000)
  zelv_test_part(game_real_runs_test road RealRuns.MainRoadFromBootThroughLevel01BackToTheMainMenu:RealRuns.WindowDestroyedFromOutsideEndsTheGameAsAClose
                 TIMEOUT 900 1800)
endif()
