# The game screen: modes, control schemes, HUD and the end of a level.
target_link_libraries(zelv_game PUBLIC zelv_world zelv_graphics zelv_fonts zelv_save zelv_level zelv_os zelv_services)
