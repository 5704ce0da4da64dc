# The real render, sound and save contexts of the app frame, and a frame of the running window
# read back through the post-processing passes.
target_link_libraries(zelv_shell PUBLIC zelv_graphics zelv_fonts zelv_audio zelv_save)
