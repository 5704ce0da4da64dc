# File-backed cloud key-value store and atomic whole-file writes.
zelv_test(platform_keyvaluestore_test TSAN SOURCES tests/KeyValueStoreTest.cpp DEPS zelv_platform)
target_link_libraries(zelv_platform PUBLIC zelv_platform_base)
