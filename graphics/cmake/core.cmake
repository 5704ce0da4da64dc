# Rendering core: GL state caches, shaders, background decoding, the texture table and pass.
target_link_libraries(zelv_graphics PUBLIC zelv_os zelv_services zelv::gles2 zelv::egl zelv::png zelv::webp
                      zelv::boost)
