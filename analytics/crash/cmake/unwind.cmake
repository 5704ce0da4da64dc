# Unwinding and images: compact unwind, DWARF call frames and expressions, the Mach-O reader,
# class metadata. Their tests run on Mach-O images built by tests/images.
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/tests/images ${CMAKE_CURRENT_BINARY_DIR}/tests/images)
set_source_files_properties(
  ${CMAKE_CURRENT_SOURCE_DIR}/AsyncCompactUnwind.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AsyncDwarfCfi.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AsyncDwarfExpression.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AsyncDwarfPrimitives.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AsyncMachoReader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AsyncObjc.cpp
  TARGET_DIRECTORY zelv_crash
  PROPERTIES COMPILE_OPTIONS "-fno-exceptions")

add_library(crash_unwind_test_support STATIC
  tests/support/MachOFixtureWriter.cpp tests/support/MachOTestLoader.cpp)
target_link_libraries(crash_unwind_test_support PUBLIC zelv_crash)
target_compile_definitions(crash_unwind_test_support PUBLIC
  ZELV_CRASH_IMAGES_DIR="${CMAKE_CURRENT_BINARY_DIR}/tests/images")
add_dependencies(crash_unwind_test_support crash_test_images)

zelv_test(crash_unwind_test
  SOURCES tests/DwarfExpressionTest.cpp tests/DwarfCfiTest.cpp tests/CompactUnwindTest.cpp
          tests/MachOImageTest.cpp tests/ExecutedFramesTest.cpp
  DEPS crash_unwind_test_support TIMEOUT 120)
