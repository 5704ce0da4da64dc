# The particle liquid solver.
zelv_test(particles_test SOURCES tests/ParticleSystemTest.cpp tests/ParticleSolverTest.cpp DEPS zelv_physics)
zelv_benchmark(particles_bench SOURCES bench/ParticleBench.cpp DEPS zelv_physics zelv_allocation_counter)
