# The physics world and the one layer that maps level data onto the installed Box2D.
target_link_libraries(zelv_physics PUBLIC zelv_level zelv::box2d)

zelv_test(physics_joints_test SOURCES tests/JointsTest.cpp DEPS zelv_physics)
# Reads the sample levels from the built data archive.
zelv_test(physics_sample_levels_test SOURCES tests/SampleLevelsTest.cpp DEPS zelv_physics)
add_dependencies(physics_sample_levels_test pak)
