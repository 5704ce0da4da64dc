# The main menu's download bar and credits (tested with the main menu).
zelv_benchmark(menus_credits_bench SOURCES bench/CreditsBench.cpp DEPS zelv_menus zelv_graphics_testsupport)
