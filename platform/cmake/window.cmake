# The window, its GL ES 2.0 context and the event pump.
target_link_libraries(zelv_platform PUBLIC zelv::sdl2 zelv::gles2 zelv::x11 ${CMAKE_DL_LIBS})
zelv_test(platform_event_pump_test SOURCES tests/EventPumpTest.cpp DEPS zelv_platform)
zelv_test(platform_window_test SOURCES tests/WindowTest.cpp DEPS zelv_platform GL)
