# HTTP transport over libcurl, tested against the loopback test server; reachability on the
# platform's network monitor.
target_link_libraries(zelv_delivery PUBLIC zelv_agent zelv_platform_base zelv_platform zelv::curl)
zelv_test(delivery_http_test TSAN SOURCES tests/HttpTransportTest.cpp DEPS zelv_delivery)
zelv_test(delivery_network_state_test TSAN SOURCES tests/NetworkStateTest.cpp DEPS zelv_delivery)
