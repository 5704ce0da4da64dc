# The report sender, its block index, and the reply parser's fuzz target.
zelv_test(delivery_sender_test TSAN SOURCES tests/DataSenderTest.cpp DEPS zelv_delivery)
