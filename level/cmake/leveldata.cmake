# Level data: the level records, the .pxl reader and writer.
target_link_libraries(zelv_level PUBLIC zelv_os zelv::zlib zelv::boost)

zelv_test(level_file_test SOURCES tests/LevelFileTest.cpp DEPS zelv_level zelv::zlib)
