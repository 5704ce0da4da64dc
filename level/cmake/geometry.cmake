# Level geometry: packed shapes into Box2D fixtures, curve and keyframe maths.
target_link_libraries(zelv_level PUBLIC zelv::box2d)

zelv_test(level_curves_test SOURCES tests/CurvesTest.cpp DEPS zelv_level)
zelv_test(level_fixtures_test SOURCES tests/FixturesTest.cpp DEPS zelv_level)
zelv_fuzzer(level_packed_shape_fuzzer SOURCES fuzz/PackedShapeFuzzer.cpp DEPS zelv_level
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/level_packed_shape_fuzzer)
zelv_test(level_joint_states_test SOURCES tests/JointStatesTest.cpp DEPS zelv_level)
