# The real render, sound and save contexts of the app frame, and a frame of the running window
# read back through the post-processing passes.
target_link_libraries(zelv_shell PUBLIC zelv_graphics zelv_fonts zelv_audio zelv_save)

zelv_test(shell_frame_passes_test GL NOMAIN SOURCES tests/FramePassesTest.cpp DEPS zelv_shell zelv_graphics_testsupport
          TIMEOUT 120 300)
if(TARGET shell_frame_passes_test AND TARGET pak)
  add_dependencies(shell_frame_passes_test pak)
endif()
# The X11 client libraries behind the window keep a few allocations until exit.
if(TEST shell_frame_passes_test)
  set_property(TEST shell_frame_passes_test APPEND PROPERTY ENVIRONMENT
    LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tests/lsan-x11.supp)
endif()
