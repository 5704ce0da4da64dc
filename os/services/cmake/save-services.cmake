# Time strings, the documents folder and the cloud key-value store functions.
target_link_libraries(zelv_services PUBLIC zelv_platform zelv::boost)

zelv_test(services_save_services_test SOURCES tests/SaveServicesTest.cpp DEPS zelv_services)
