# Crash capture: signals, thread state, stack cursor, task memory, the report writer.
find_program(ZELV_PROTOC_C protoc-c REQUIRED)
set(crash_generated ${PROJECT_BINARY_DIR}/generated)
add_custom_command(
  OUTPUT ${crash_generated}/analytics/crash/tlcrash.pb-c.c ${crash_generated}/analytics/crash/tlcrash.pb-c.h
  COMMAND ${CMAKE_COMMAND} -E make_directory ${crash_generated}
  COMMAND ${ZELV_PROTOC_C} --c_out=${crash_generated} --proto_path=${PROJECT_SOURCE_DIR}
          ${PROJECT_SOURCE_DIR}/analytics/crash/tlcrash.proto
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tlcrash.proto
  COMMENT "Generating the crash report descriptors")
target_sources(zelv_crash PRIVATE ${crash_generated}/analytics/crash/tlcrash.pb-c.c)
target_include_directories(zelv_crash PUBLIC ${crash_generated})
target_link_libraries(zelv_crash PUBLIC zelv_platform_base zelv::protobufc zelv::uuid)

# Code that runs inside a crashing process must not unwind through exceptions.
set(crash_path_sources AsyncSupport AsyncMObject AsyncThreadState AsyncStackCursor AsyncImageList
    AsyncMachoImage ThreadSuspension ReportFile LogWriter SignalNumbers SignalHandler CrashCallback)
list(TRANSFORM crash_path_sources PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
list(TRANSFORM crash_path_sources APPEND .cpp)
set_source_files_properties(${crash_path_sources} TARGET_DIRECTORY zelv_crash
  PROPERTIES COMPILE_OPTIONS "-fno-exceptions")

zelv_test(crash_capture_test OPTIMIZED TSAN SOURCES tests/ThreadStateTest.cpp tests/TaskMemoryTest.cpp
  DEPS zelv_crash TIMEOUT 120)
zelv_test(crash_list_test OPTIMIZED TSAN SOURCES tests/AsyncListTest.cpp DEPS zelv_crash TIMEOUT 120)
zelv_test(crash_writer_test OPTIMIZED SOURCES tests/ReportFileTest.cpp tests/LogWriterTest.cpp tests/ProcessStatTest.cpp
  tests/ReportDecoding.cpp
  DEPS zelv_crash TIMEOUT 120)
zelv_test(crash_signal_test OPTIMIZED SOURCES tests/CrashChildTest.cpp tests/SignalChainTest.cpp tests/ReportDecoding.cpp
  DEPS zelv_crash TIMEOUT 180)
zelv_benchmark(crash_writer_bench SOURCES bench/LogWriterBench.cpp tests/ReportDecoding.cpp DEPS zelv_crash)
zelv_fuzzer(crash_process_stat_fuzzer SOURCES fuzz/ProcessStatFuzzer.cpp DEPS zelv_crash
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/crash_process_stat_fuzzer)

# The reporter: decoding, the text formatter, the reporter object.
zelv_test(crash_report_test OPTIMIZED SOURCES tests/ReportDecodeTest.cpp tests/TextFormatterTest.cpp tests/ReportBuilder.cpp
  tests/MachPiecesTest.cpp
  DEPS zelv_crash TIMEOUT 120)
zelv_test(crash_reporter_test OPTIMIZED SOURCES tests/ReporterTest.cpp tests/ReportDecoding.cpp DEPS crash_unwind_test_support
  TIMEOUT 180)
zelv_fuzzer(crash_report_fuzzer SOURCES fuzz/ReportFuzzer.cpp DEPS zelv_crash
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/crash_report_fuzzer)
zelv_fuzzer(crash_mach_message_fuzzer SOURCES fuzz/MachMessageFuzzer.cpp DEPS zelv_crash
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/crash_mach_message_fuzzer)
# End to end on the process's own ELF objects, with a library loaded after enabling.
add_library(crash_late_library SHARED tests/LateLibrary.cpp)
add_library(crash_other_library SHARED tests/OtherLibrary.cpp)
zelv_test(crash_elf_report_test OPTIMIZED SOURCES tests/ElfReportTest.cpp tests/ReportDecoding.cpp DEPS zelv_crash ${CMAKE_DL_LIBS}
  TIMEOUT 300)
get_target_property(crash_elf_report_kind crash_elf_report_test TYPE)
if(crash_elf_report_kind STREQUAL "EXECUTABLE")
  add_dependencies(crash_elf_report_test crash_late_library crash_other_library)
  target_compile_definitions(crash_elf_report_test PRIVATE
    ZELV_CRASH_LATE_LIBRARY="$<TARGET_FILE:crash_late_library>"
    ZELV_CRASH_OTHER_LIBRARY="$<TARGET_FILE:crash_other_library>")
endif()
set(crash_elf_seeds ${CMAKE_CURRENT_BINARY_DIR}/elf_seeds)
zelv_fuzzer(crash_elf_image_fuzzer SOURCES fuzz/ElfImageFuzzer.cpp DEPS zelv_crash CORPUS ${crash_elf_seeds})
if(TARGET crash_elf_image_fuzzer)
  # Seeded with a built shared object, kept under the fuzzer's input size.
  add_custom_command(TARGET crash_elf_image_fuzzer POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${crash_elf_seeds}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:crash_late_library> ${crash_elf_seeds}/late_library.so)
  add_dependencies(crash_elf_image_fuzzer crash_late_library)
endif()
zelv_test(crash_agent_test OPTIMIZED SOURCES tests/AgentCrashTest.cpp tests/ReportDecoding.cpp DEPS zelv_agent zelv_crash
  TIMEOUT 120)
