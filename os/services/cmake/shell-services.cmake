# Music on its queue, video and game-service requests, analytics events, download state.
target_link_libraries(zelv_services PUBLIC zelv_agent zelv::openal)

zelv_test(services_shell_services_test TSAN SOURCES tests/ShellServicesTest.cpp DEPS zelv_services)
zelv_test(services_music_test TSAN SOURCES tests/MusicTest.cpp DEPS zelv_services TIMEOUT 120)
