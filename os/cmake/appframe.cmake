# App frame, screens, signal queue and tasks.
target_link_libraries(zelv_os PUBLIC zelv_services zelv::gles2 zelv::boost)

zelv_test(os_event_handler_test SOURCES tests/EventHandlerTest.cpp DEPS zelv_os)
zelv_test(os_app_frame_test SOURCES tests/AppFrameTest.cpp DEPS zelv_os GL)
zelv_test(os_tick_allocation_test SOURCES tests/TickAllocationTest.cpp DEPS zelv_os zelv_allocation_counter GL)
zelv_benchmark(os_app_frame_bench SOURCES bench/AppFrameBench.cpp DEPS zelv_os)
zelv_fuzzer(os_level_index_fuzzer SOURCES fuzz/LevelIndexFuzzer.cpp DEPS zelv_os
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/os_level_index_fuzzer)
zelv_test(os_transitions_test SOURCES tests/TransitionsTest.cpp DEPS zelv_os)
