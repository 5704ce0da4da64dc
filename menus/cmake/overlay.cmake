# The main menu's download bar, credits and leaderboards, on real GL and the built data.
zelv_test(menus_download_overlay_test GL SOURCES tests/DownloadOverlayTest.cpp DEPS zelv_menus zelv_save
          zelv_graphics_testsupport)
add_dependencies(menus_download_overlay_test pak)
zelv_test(menus_credits_leaderboard_test GL SOURCES tests/CreditsAndLeaderboardTest.cpp
          ${PROJECT_SOURCE_DIR}/os/tests/ZipWriter.cpp DEPS zelv_menus zelv_graphics_testsupport)
add_dependencies(menus_credits_leaderboard_test pak)
zelv_benchmark(menus_credits_bench SOURCES bench/CreditsBench.cpp DEPS zelv_menus zelv_graphics_testsupport)
