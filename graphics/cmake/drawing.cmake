# Drawing vocabulary: textures, sprites and quads, screen-space helpers, the vertex-buffer
# handle, post-processing and image sequences.

zelv_test(graphics_screen_space_test SOURCES tests/ScreenSpaceTest.cpp DEPS zelv_graphics)
