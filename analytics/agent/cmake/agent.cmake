# The analytics agent's class operations, utilities, persistent maps, keychain, facts and
# agent-wide settings, on the platform layer without SDL.
target_link_libraries(zelv_agent PUBLIC zelv_platform_base)

zelv_test(agent_tally_test TSAN SOURCES tests/TallyTest.cpp DEPS zelv_agent)
zelv_test(agent_util_test SOURCES tests/UtilTest.cpp DEPS zelv_agent)
zelv_test(agent_storage_test TSAN SOURCES tests/StorageTest.cpp DEPS zelv_agent TIMEOUT 300 1200 1200)
zelv_test(agent_facts_test TSAN SOURCES tests/FactsTest.cpp DEPS zelv_agent)
zelv_fuzzer(agent_fuzzer SOURCES fuzz/AgentFuzzer.cpp DEPS zelv_agent
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/agent_fuzzer)
zelv_benchmark(agent_persistent_map_bench SOURCES bench/PersistentMapBench.cpp DEPS zelv_agent)
# The session: its records, pre-session cache and file cache, on the delivery's framing and sender.
target_link_libraries(zelv_agent PUBLIC zelv_delivery)
zelv_test(agent_session_test TSAN SOURCES tests/SessionTest.cpp DEPS zelv_agent)
zelv_test(agent_records_test SOURCES tests/RecordsTest.cpp DEPS zelv_agent)
zelv_benchmark(agent_session_bench SOURCES bench/SessionBench.cpp DEPS zelv_agent)
# Stored sessions, the report and sending.
zelv_test(agent_store_test TSAN SOURCES tests/StoreTest.cpp DEPS zelv_agent zelv::zlib TIMEOUT 300 1500 900)
zelv_test(agent_watch_test TSAN SOURCES tests/WatchTest.cpp DEPS zelv_agent)
zelv_benchmark(agent_core_bench SOURCES bench/AgentBench.cpp DEPS zelv_agent zelv::jansson zelv::zlib)
# The public calls end to end: configuration, partner callback, callback report and purchase
# against loopback servers.
zelv_test(agent_public_end_to_end_test TSAN SOURCES tests/PublicInterfaceEndToEndTest.cpp DEPS zelv_agent TIMEOUT 300 900 900)
# Its longest cases (a callback that times out, and copies of the test started one after another)
# as entries of their own, run beside the rest.
zelv_test_part(agent_public_end_to_end_test timeout PublicInterface.ConfigurationCallbackReportAndPurchaseTravelTheWholeWay)
zelv_test_part(agent_public_end_to_end_test exits PublicInterface.ExitsRightAfterTheSessionEndsTouchNothingDestroyedAndLoseNothing
               TIMEOUT 300 1200 1800)
zelv_test_part(agent_public_end_to_end_test quits PublicInterface.SessionsEndedAtQuitAreSentOnceAndASilentServerHoldsNoQuit)
zelv_test_part(agent_public_end_to_end_test twins
               PublicInterface.SessionsTwoProcessesEndAtOnceAreAllSentOnceTheEndpointAnswers:PublicInterface.KeychainAddsOfTwoProcessesThatEndAtOnceAreAllKept
               TIMEOUT 300 1500 1800)
zelv_test_part(agent_storage_test keychain AgentStore.Keychain* TIMEOUT 300 1800 1200)
