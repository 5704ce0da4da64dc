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

zelv_test(crash_unwind_test OPTIMIZED
  SOURCES tests/DwarfExpressionTest.cpp tests/DwarfCfiTest.cpp tests/CompactUnwindTest.cpp
          tests/MachOImageTest.cpp tests/ExecutedFramesTest.cpp tests/ReportDecoding.cpp
  DEPS crash_unwind_test_support TIMEOUT 120)

# Fuzz targets, seeded with the built images.
set(crash_images ${CMAKE_CURRENT_BINARY_DIR}/tests/images/seeds)
foreach(pair macho_image:MachOImage compact_unwind:CompactUnwind dwarf_cfi:DwarfCfi
             dwarf_expression:DwarfExpression class_metadata:ClassMetadata stack_cursor:StackCursor)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 name)
  list(GET pair 1 source)
  zelv_fuzzer(crash_${name}_fuzzer SOURCES fuzz/${source}Fuzzer.cpp DEPS crash_unwind_test_support
    CORPUS ${crash_images} RUNS 1000)
  if(TARGET crash_${name}_fuzzer)
    add_dependencies(crash_${name}_fuzzer crash_test_images)
  endif()
endforeach()

zelv_benchmark(crash_unwind_bench SOURCES bench/UnwindBench.cpp DEPS crash_unwind_test_support)
