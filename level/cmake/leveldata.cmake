# Level data: the level records, the .pxl reader and writer.
target_link_libraries(zelv_level PUBLIC zelv_os zelv::zlib zelv::boost PRIVATE zelv::deflate)

zelv_test(level_file_test SOURCES tests/LevelFileTest.cpp DEPS zelv_level zelv::zlib)
zelv_fuzzer(level_file_fuzzer SOURCES fuzz/LevelFileFuzzer.cpp DEPS zelv_level
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/level_file_fuzzer)
zelv_fuzzer(level_archive_fuzzer SOURCES fuzz/LevelArchiveFuzzer.cpp DEPS zelv_level
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/level_archive_fuzzer)
zelv_benchmark(level_load_bench SOURCES bench/LevelLoadBench.cpp DEPS zelv_level zelv::zlib zelv::deflate)
zelv_test(level_sample_levels_test SOURCES tests/SampleLevelsTest.cpp DEPS zelv_level zelv_os zelv::zlib)
if(TARGET level_sample_levels_test)
  # The archive is made by the tools folder, configured after this one.
  add_dependencies(level_sample_levels_test pak)
endif()
