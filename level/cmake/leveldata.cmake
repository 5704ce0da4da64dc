# Level data: the level records, the .pxl reader and writer.
target_link_libraries(zelv_level PUBLIC zelv_os zelv::zlib zelv::boost)
