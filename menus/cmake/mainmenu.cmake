# Main menu: its loader, backdrop, download bar, credits and leaderboards, and the screen that
# hosts the main-menu pages.
zelv_test(menus_main_menu_test GL SOURCES tests/MainMenuTest.cpp ${PROJECT_SOURCE_DIR}/os/tests/ZipWriter.cpp
          DEPS zelv_menus zelv_save zelv_graphics_testsupport TIMEOUT 180)
add_dependencies(menus_main_menu_test pak)
zelv_benchmark(menus_main_menu_bench SOURCES bench/MainMenuBench.cpp DEPS zelv_menus zelv_graphics_testsupport)
# The boards view drawn over the game.
zelv_test(menus_game_services_view_test GL SOURCES tests/GameServicesViewTest.cpp
          DEPS zelv_menus zelv_graphics_testsupport TIMEOUT 120)
add_dependencies(menus_game_services_view_test pak)
