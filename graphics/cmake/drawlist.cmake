# The level draw list with its culling tree, drawables and the gold particle effect.
target_link_libraries(zelv_graphics PUBLIC zelv_level zelv_physics zelv::bullet)

zelv_test(graphics_drawlist_test SOURCES tests/DrawListTest.cpp DEPS zelv_graphics)
zelv_test(graphics_drawlist_gl_test GL SOURCES tests/DrawListGlTest.cpp DEPS zelv_graphics_testsupport)
add_dependencies(graphics_drawlist_gl_test pak)
zelv_benchmark(graphics_drawlist_bench SOURCES bench/DrawListBench.cpp DEPS zelv_graphics)
zelv_fuzzer(graphics_level_geometry_fuzzer SOURCES fuzz/LevelGeometryFuzzer.cpp DEPS zelv_graphics
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/graphics_level_geometry_fuzzer)
# Bullet's culling template, inlined here, trips gcc's may-be-uninitialised analysis.
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/DrawList.cpp PROPERTIES COMPILE_OPTIONS $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
