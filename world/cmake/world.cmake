# The running level: construction, update and draw, signal wiring and contact handling.
target_link_libraries(zelv_world PUBLIC zelv_graphics zelv_audio zelv_physics zelv_level zelv_os)
