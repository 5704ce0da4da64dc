# Particle liquids in a running level.
zelv_test(world_liquid_test SOURCES tests/ParticleLiquidTest.cpp DEPS zelv_world zelv_level_builder)
add_dependencies(world_liquid_test pak)
