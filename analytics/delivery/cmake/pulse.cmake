# Remote configuration (Avro exchange), partner callbacks, their reports and purchases.
target_link_libraries(zelv_delivery PUBLIC zelv::avro zelv::jansson)
zelv_test(delivery_pulse_records_test SOURCES tests/PulseRecordsTest.cpp DEPS zelv_delivery)
zelv_test(delivery_pulse_config_test SOURCES tests/PulseConfigTest.cpp DEPS zelv_delivery)
zelv_fuzzer(delivery_pulse_response_fuzzer SOURCES fuzz/PulseResponseFuzzer.cpp DEPS zelv_delivery
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/delivery_pulse_response_fuzzer)
zelv_test(delivery_pulse_callbacks_test TSAN SOURCES tests/PulseCallbacksTest.cpp DEPS zelv_delivery zelv_platform)
zelv_test(delivery_pulse_request_test TSAN SOURCES tests/PulseRequestTest.cpp DEPS zelv_delivery)
zelv_test(delivery_json2avro_test SOURCES tests/Json2AvroTest.cpp DEPS zelv_delivery)
zelv_fuzzer(delivery_json2avro_fuzzer SOURCES fuzz/Json2AvroFuzzer.cpp DEPS zelv_delivery
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/delivery_json2avro_fuzzer)
zelv_test(delivery_purchase_test TSAN SOURCES tests/PurchaseTest.cpp DEPS zelv_delivery)
zelv_benchmark(delivery_pulse_match_bench SOURCES bench/PulseMatchBench.cpp DEPS zelv_delivery)
zelv_fuzzer(delivery_pulse_archive_fuzzer SOURCES fuzz/PulseArchiveFuzzer.cpp DEPS zelv_delivery
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/delivery_pulse_archive_fuzzer)
