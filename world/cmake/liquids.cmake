# Particle liquids in a running level.
zelv_test(world_liquid_test SOURCES tests/ParticleLiquidTest.cpp DEPS zelv_world zelv_level_builder)
add_dependencies(world_liquid_test pak)

# Sprite emitters through a real draw list on GL ES 2.0.
zelv_test(world_emitter_gl_test GL SOURCES tests/ParticleEmitterGlTest.cpp DEPS zelv_world zelv_graphics_testsupport)
add_dependencies(world_emitter_gl_test pak)
