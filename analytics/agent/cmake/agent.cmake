# The analytics agent's class operations.
zelv_test(agent_tally_test SOURCES tests/TallyTest.cpp DEPS zelv_agent)
