# HTTP transport over libcurl, tested against the loopback test server.
target_link_libraries(zelv_delivery PUBLIC zelv::curl)
