# Drawing vocabulary: textures, sprites and quads, screen-space helpers, the vertex-buffer
# handle, post-processing and image sequences.

zelv_test(graphics_screen_space_test SOURCES tests/ScreenSpaceTest.cpp DEPS zelv_graphics)
zelv_test(graphics_drawing_gl_test GL SOURCES tests/DrawingGlTest.cpp DEPS zelv_graphics_testsupport)
# The shaders and art come from the built data archive.
add_dependencies(graphics_drawing_gl_test pak)
zelv_benchmark(graphics_post_processing_bench SOURCES bench/PostProcessingBench.cpp DEPS zelv_graphics)
