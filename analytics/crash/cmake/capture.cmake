# Crash capture: signals, thread state, stack cursor, task memory, the report writer.
# Code that runs inside a crashing process must not unwind through exceptions.
set_source_files_properties(
  ${CMAKE_CURRENT_SOURCE_DIR}/AsyncSupport.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AsyncMObject.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AsyncThreadState.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AsyncStackCursor.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AsyncImageList.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ThreadSuspension.cpp
  TARGET_DIRECTORY zelv_crash
  PROPERTIES COMPILE_OPTIONS "-fno-exceptions")

zelv_test(crash_capture_test SOURCES tests/ThreadStateTest.cpp tests/TaskMemoryTest.cpp
  DEPS zelv_crash TIMEOUT 120)
zelv_test(crash_list_test TSAN SOURCES tests/AsyncListTest.cpp DEPS zelv_crash TIMEOUT 120)
