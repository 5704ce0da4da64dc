# The game screen: modes, control schemes, HUD and the end of a level.
target_link_libraries(zelv_game PUBLIC zelv_menus zelv_world zelv_graphics zelv_fonts zelv_save zelv_level zelv_os zelv_services)

# Control schemes, scores and the game screen on builder levels, run without GL.
zelv_test(game_test SOURCES tests/ControlSchemesTest.cpp tests/GameScreenTest.cpp DEPS zelv_game zelv_level_builder)
add_dependencies(game_test pak)

# A level played from a controller script, for the deterministic-run tests and by hand.
if(NOT ZELV_TSAN)
  add_executable(game_scripted_run tests/ScriptedRunMain.cpp tests/ScriptedRun.cpp)
  target_link_libraries(game_scripted_run PRIVATE zelv_game zelv_shell zelv_testing_support)
  add_dependencies(game_scripted_run pak)
endif()
zelv_test(game_scripted_run_test SOURCES tests/ScriptedRunTest.cpp tests/ScriptedRun.cpp DEPS zelv_game zelv_shell
          TIMEOUT 240)
if(TARGET game_scripted_run AND TARGET game_scripted_run_test)
  add_dependencies(game_scripted_run_test game_scripted_run)
endif()
