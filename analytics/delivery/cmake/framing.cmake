# Binary report framing.
zelv_test(delivery_framing_test SOURCES tests/TallyProtocolDataTest.cpp DEPS zelv_delivery)
zelv_benchmark(delivery_framing_bench SOURCES bench/FramingBench.cpp DEPS zelv_delivery)
