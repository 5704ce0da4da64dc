# Values and the keyed archive, files and folders, work queues, the SDK loop, notifications.
target_link_libraries(zelv_platform_base PUBLIC zelv::jansson zelv::crypto zelv::uuid zelv::zlib)

zelv_test(platform_base_archive_test SOURCES tests/KeyedArchiveTest.cpp DEPS zelv_platform_base)
zelv_test(platform_base_queues_test TSAN SOURCES tests/WorkQueueTest.cpp tests/SdkLoopTest.cpp
          tests/NotificationCenterTest.cpp DEPS zelv_platform_base)
zelv_fuzzer(platform_base_archive_fuzzer SOURCES fuzz/KeyedArchiveFuzzer.cpp DEPS zelv_platform_base
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/platform_base_archive_fuzzer)
zelv_benchmark(platform_base_archive_bench SOURCES bench/KeyedArchiveBench.cpp DEPS zelv_platform_base)
zelv_benchmark(platform_base_keychain_bench SOURCES bench/KeychainFoldBench.cpp DEPS zelv_platform_base)
# Keychain items, digests and device facts.
zelv_test(platform_base_device_test SOURCES tests/DeviceFactsTest.cpp DEPS zelv_platform_base)
