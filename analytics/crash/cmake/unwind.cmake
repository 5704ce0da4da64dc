# Unwinding and images: compact unwind, DWARF call frames and expressions, the Mach-O reader,
# class metadata. Their tests run on Mach-O images built by tests/images.
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/tests/images ${CMAKE_CURRENT_BINARY_DIR}/tests/images)
