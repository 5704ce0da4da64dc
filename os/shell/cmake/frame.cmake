# Frame loop, GL view and the real app frame.
target_link_libraries(zelv_shell PUBLIC zelv_os zelv_services zelv_platform zelv_world zelv_level zelv_menus zelv_game)

zelv_test(shell_gl_view_test SOURCES tests/GlViewTest.cpp tests/FrameLimiterTest.cpp DEPS zelv_shell)
zelv_test(shell_smoke_test SOURCES tests/SmokeTest.cpp tests/ZelvProcess.cpp GL TIMEOUT 180 300)
# The smoke test runs the real executable.
if(TARGET shell_smoke_test)
  add_dependencies(shell_smoke_test zelv)
  if(TARGET pak)
    add_dependencies(shell_smoke_test pak)
  endif()
endif()
