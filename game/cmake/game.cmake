# The game screen: modes, control schemes, HUD and the end of a level.
target_link_libraries(zelv_game PUBLIC zelv_menus zelv_world zelv_graphics zelv_fonts zelv_save zelv_level zelv_os zelv_services)

# Control schemes, scores and the game screen on builder levels, run without GL.
zelv_test(game_test SOURCES tests/ControlSchemesTest.cpp tests/GameScreenTest.cpp DEPS zelv_game zelv_level_builder)
add_dependencies(game_test pak)

zelv_test(game_scripted_run_test SOURCES tests/ScriptedRunTest.cpp DEPS zelv_scripted_run TIMEOUT 240)
add_dependencies(game_scripted_run_test pak)

# Level01 in the real window under Xvfb (it runs itself under xvfb-run), driven by X events and
# a virtual controller; each entry given five times or more what it takes on two quiet cores.
zelv_test(game_play_in_window_test SOURCES tests/PlayInWindowTest.cpp DEPS zelv_shell zelv_testing_x11 GL NOMAIN TIMEOUT 600 900)
if(TARGET game_play_in_window_test)
  add_dependencies(game_play_in_window_test pak)
endif()
if(TEST game_play_in_window_test)
  set_property(TEST game_play_in_window_test APPEND PROPERTY ENVIRONMENT
    LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/os/shell/tests/lsan-x11.supp)
  # The pads' case in a process of its own: the level select it opens comes up as on a first run,
  # whatever the cases before it left in the process.
  zelv_test_part(game_play_in_window_test pads PlayInWindow.EachPadPressActsOnceBesideItsOppositeAndWhileAScreenChanges)
  # The longest case beside the others.
  zelv_test_part(game_play_in_window_test boards PlayInWindow.HeldControllerAOnBoardsOpensThemOnceAndHeldDirectionsMoveNoBox)
endif()

zelv_benchmark(game_screen_bench SOURCES bench/GameScreenBench.cpp DEPS zelv_game zelv_shell)
zelv_benchmark(game_loader_frame_bench SOURCES bench/LoaderFrameBench.cpp DEPS zelv_game zelv_shell)
