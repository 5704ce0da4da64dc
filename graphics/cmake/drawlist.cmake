# The level draw list with its culling tree, drawables and the gold particle effect.
target_link_libraries(zelv_graphics PUBLIC zelv_level zelv_physics zelv::bullet)

zelv_test(graphics_drawlist_test SOURCES tests/DrawListTest.cpp DEPS zelv_graphics)
