# Platform services: clock, device and screen facts.
zelv_test(services_platform_test SOURCES tests/PlatformServicesTest.cpp DEPS zelv_services)
