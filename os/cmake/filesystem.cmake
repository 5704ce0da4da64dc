# File system over the zip data archives, asset tables and descriptors.
target_link_libraries(zelv_os PUBLIC zelv::boost zelv::zlib)

zelv_test(os_filesystem_test SOURCES tests/FileSystemTest.cpp tests/ZipWriter.cpp DEPS zelv_os zelv::zlib)
zelv_test(os_filesystem_concurrency_test TSAN SOURCES tests/FileSystemConcurrencyTest.cpp tests/ZipWriter.cpp
          DEPS zelv_os zelv::zlib)
zelv_test(os_assets_test SOURCES tests/AssetsTest.cpp DEPS zelv_os)
zelv_fuzzer(os_mount_fuzzer SOURCES fuzz/MountFuzzer.cpp DEPS zelv_os
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/os_mount_fuzzer)
zelv_benchmark(os_filesystem_bench SOURCES bench/FileSystemBench.cpp tests/ZipWriter.cpp DEPS zelv_os zelv::zlib)
