# The analytics agent's class operations, utilities, persistent maps, keychain, facts and
# agent-wide settings, on the platform layer without SDL.
target_link_libraries(zelv_agent PUBLIC zelv_platform_base)

zelv_test(agent_tally_test SOURCES tests/TallyTest.cpp DEPS zelv_agent)
zelv_test(agent_util_test SOURCES tests/UtilTest.cpp DEPS zelv_agent)
zelv_test(agent_storage_test TSAN SOURCES tests/StorageTest.cpp DEPS zelv_agent)
zelv_test(agent_facts_test TSAN SOURCES tests/FactsTest.cpp DEPS zelv_agent)
zelv_fuzzer(agent_fuzzer SOURCES fuzz/AgentFuzzer.cpp DEPS zelv_agent
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/agent_fuzzer)
zelv_benchmark(agent_persistent_map_bench SOURCES bench/PersistentMapBench.cpp DEPS zelv_agent)
