# The report sender, its block index, and the reply parser's fuzz target.
zelv_test(delivery_sender_test TSAN SOURCES tests/DataSenderTest.cpp DEPS zelv_delivery TIMEOUT 900 1800 1800)
zelv_fuzzer(delivery_reply_fuzzer SOURCES fuzz/ReplyParserFuzzer.cpp DEPS zelv_delivery
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/delivery_reply_fuzzer)
zelv_test(delivery_index_test TSAN SOURCES tests/SendIndexTest.cpp DEPS zelv_delivery)
zelv_test(delivery_end_to_end_test TSAN SOURCES tests/DeliveryEndToEndTest.cpp DEPS zelv_agent zelv::zlib TIMEOUT 600)
