# Adapters of the shell: music and video through FFmpeg and OpenAL, controllers and dialogs
# through SDL, the download through libcurl, settings files, game services, network watching.
target_link_libraries(zelv_platform PUBLIC zelv::ffmpeg zelv::openal zelv::curl zelv::sdl2)

zelv_test(platform_preferences_test TSAN SOURCES tests/PreferencesFileTest.cpp DEPS zelv_platform TIMEOUT 300 900 900)
zelv_benchmark(platform_preferences_bench SOURCES bench/PreferencesFileBench.cpp DEPS zelv_platform)
zelv_fuzzer(platform_preferences_fuzzer SOURCES fuzz/PreferencesFuzzer.cpp DEPS zelv_platform
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/platform_preferences_fuzzer)
zelv_test(platform_controllers_test SOURCES tests/SdlControllersTest.cpp DEPS zelv_platform)
zelv_fuzzer(platform_music_fuzzer SOURCES fuzz/MusicFuzzer.cpp DEPS zelv_platform RUNS 300
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/platform_music_fuzzer)
zelv_benchmark(platform_music_player_bench SOURCES bench/MusicPlayerBench.cpp DEPS zelv_platform)
zelv_fuzzer(platform_video_fuzzer SOURCES fuzz/VideoFuzzer.cpp DEPS zelv_platform RUNS 300
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/platform_video_fuzzer)
# The settings file's longest cases (kills, piles of notes, forks) as entries of their own.
zelv_test_part(platform_preferences_test fork StoresBesideAFork.*)
zelv_test_part(platform_preferences_test notes PreferencesFile.*Notes*)
