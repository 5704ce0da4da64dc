# Application delegate, root view controller, rating prompt, reachability, desktop platform.
target_link_libraries(zelv_shell PUBLIC zelv_agent zelv::curl zelv::openal)

zelv_test(shell_logic_test TSAN SOURCES tests/ShellLogicTest.cpp DEPS zelv_shell)
zelv_test(shell_rating_prompt_test SOURCES tests/RatingPromptTest.cpp DEPS zelv_shell)
zelv_test(shell_download_test TSAN SOURCES tests/DownloadTest.cpp ${PROJECT_SOURCE_DIR}/os/tests/ZipWriter.cpp
          DEPS zelv_shell zelv::zlib TIMEOUT 120)
zelv_test(shell_video_test SOURCES tests/VideoTest.cpp DEPS zelv_shell GL TIMEOUT 120)
# Runs itself under Xvfb for a real window. The tests of the real executable and window here are
# given five times or more what they take on two quiet cores: a loaded machine draws the frames
# they wait on slower.
zelv_test(shell_launch_test SOURCES tests/LaunchTest.cpp tests/LevelLoadRunTest.cpp DEPS zelv_shell zelv_crash zelv_testing_x11 GL NOMAIN TIMEOUT 360 600)
if(TARGET shell_launch_test AND TARGET pak)
  add_dependencies(shell_launch_test pak)
endif()
zelv_fuzzer(shell_url_fuzzer SOURCES fuzz/UrlFuzzer.cpp DEPS zelv_shell
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/shell_url_fuzzer)
# The X11 client libraries behind the window keep a few allocations until exit.
if(TEST shell_launch_test)
  set_property(TEST shell_launch_test APPEND PROPERTY ENVIRONMENT
    LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tests/lsan-x11.supp)
endif()
zelv_test(shell_impl_test SOURCES tests/ImplTest.cpp DEPS zelv_shell)
# The real executable started under faults, each run in a throwaway home.
zelv_test(shell_startup_faults_test SOURCES tests/StartupFaultsTest.cpp tests/ZelvProcess.cpp
          ${PROJECT_SOURCE_DIR}/os/tests/ZipWriter.cpp DEPS zelv_os zelv::zlib GL TIMEOUT 1200 2400)
if(TARGET shell_startup_faults_test)
  add_dependencies(shell_startup_faults_test zelv)
  if(TARGET pak)
    add_dependencies(shell_startup_faults_test pak)
  endif()
endif()
# The game's events in the analytics agent's stored sessions, from a real headless run.
zelv_test(shell_analytics_run_test SOURCES tests/AnalyticsRunTest.cpp tests/ZelvProcess.cpp DEPS zelv_shell GL TIMEOUT 360 600)
if(TARGET shell_analytics_run_test)
  add_dependencies(shell_analytics_run_test zelv)
  if(TARGET pak)
    add_dependencies(shell_analytics_run_test pak)
  endif()
endif()
# The real executable meeting faults while it runs (full disk, closed log and output streams, a
# file-size limit, scarce memory, early signals, settings files that are pipes), under Xvfb.
zelv_test(shell_running_faults_test SOURCES tests/RunningFaultsTest.cpp tests/ZelvProcess.cpp
          DEPS zelv_os zelv_testing_game_window zelv_testing_x11 GL NOMAIN TIMEOUT 1200 2400)
if(TARGET shell_running_faults_test)
  add_dependencies(shell_running_faults_test zelv)
  if(TARGET pak)
    add_dependencies(shell_running_faults_test pak)
  endif()
endif()
if(TEST shell_running_faults_test)
  set_property(TEST shell_running_faults_test APPEND PROPERTY ENVIRONMENT
    LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tests/lsan-x11.supp)
endif()
# The longest runs of each beside the rest.
zelv_test_part(shell_startup_faults_test homes
               StartupFaults.WithoutHomeEveryFolderIsUnderTheAccountsHome:StartupFaults.TwoCopiesStartedAtOnceBothCountTheirStart)
zelv_test_part(shell_running_faults_test limits
               RunningFaults.ThreadLimitsNeverHangTheGameAndNameWhatCouldNotStart:RunningFaults.SettingsFilesThatArePipesLeaveALevelToBePlayedToItsBoard:RunningFaults.SigtermWhileTheRatingQuestionIsUpEndsTheGameCleanly)
