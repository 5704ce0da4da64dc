# Drawing vocabulary: textures, sprites and quads, screen-space helpers, the vertex-buffer
# handle, post-processing and image sequences.
