# Menu toolkit: the menu interface, tweens, buttons, focus, small widgets and question boxes.
target_link_libraries(zelv_menus PUBLIC zelv_os zelv_services zelv_graphics zelv_fonts zelv_audio zelv::gles2
                      zelv::boost)
