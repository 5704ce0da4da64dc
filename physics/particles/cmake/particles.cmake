# The particle liquid solver.
zelv_test(particles_test SOURCES tests/ParticleSystemTest.cpp tests/ParticleSolverTest.cpp DEPS zelv_physics)
