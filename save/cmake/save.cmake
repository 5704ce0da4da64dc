# Save record, its stored blob, the scoped accessors and cloud sync.
target_link_libraries(zelv_save PUBLIC zelv_services zelv_platform zelv::boost zelv::boost_serialization zelv::zlib)

zelv_test(save_record_test SOURCES tests/RoamingDataTest.cpp tests/RoamingDataFormatTest.cpp DEPS zelv_save)
zelv_test(save_accessors_test TSAN SOURCES tests/AccessorsTest.cpp DEPS zelv_save)
zelv_test(save_crash_test SOURCES tests/CrashTest.cpp DEPS zelv_save TIMEOUT 600)
zelv_test(save_cloud_sync_test TSAN SOURCES tests/CloudSyncThreadTest.cpp DEPS zelv_save)
zelv_benchmark(save_bench SOURCES bench/RoamingDataBench.cpp DEPS zelv_save)
zelv_fuzzer(save_blob_fuzzer SOURCES fuzz/BlobFuzzer.cpp DEPS zelv_save
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/save_blob_fuzzer)
