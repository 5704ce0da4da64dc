# The running level: construction, update and draw, signal wiring and contact handling.
target_link_libraries(zelv_world PUBLIC zelv_graphics zelv_audio zelv_physics zelv_level zelv_os zelv_save zelv_menus)
# The outline's rim loops run on vector lanes only when sqrt need not set errno (it never meets a
# negative there); the values stay the same.
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/Outline.cpp PROPERTIES COMPILE_OPTIONS -fno-math-errno)

# Builder levels run as the game screen runs them; sounds come from the built data archive.
zelv_test(world_test SOURCES tests/WorldTest.cpp tests/WiringTest.cpp tests/TasksTest.cpp
          tests/JointsAndBodiesTest.cpp tests/ContactsTest.cpp tests/CameraTest.cpp tests/PlayerTest.cpp
          tests/ObjectsTest.cpp DEPS zelv_world zelv_level_builder)
add_dependencies(world_test pak)

zelv_fuzzer(world_level_fuzzer SOURCES fuzz/WorldLevelFuzzer.cpp DEPS zelv_world
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/world_level_fuzzer)
zelv_benchmark(world_update_bench SOURCES bench/WorldUpdateBench.cpp DEPS zelv_world zelv_level_builder zelv_allocation_counter)
zelv_test(world_player_gl_test GL SOURCES tests/PlayerGlTest.cpp DEPS zelv_world zelv_level_builder zelv_graphics_testsupport)
add_dependencies(world_player_gl_test pak)
zelv_test(world_rope_gl_test GL SOURCES tests/RopeGlTest.cpp DEPS zelv_world zelv_level_builder zelv_graphics_testsupport)
add_dependencies(world_rope_gl_test pak)
zelv_benchmark(world_objects_bench SOURCES bench/ObjectsBench.cpp DEPS zelv_world zelv_level_builder zelv_allocation_counter)
