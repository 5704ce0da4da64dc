#pragma once
// The agent's fixed limits and its version.
#include <string>

class TallySessionInfo {
public:
    static int maxOriginSets() { return 10; }
    static int maxSessionProperties() { return 20; }
    static int maxEventLogCount() { return 1000; }
    static int maxEventCounts() { return 100; }
    static int maxErrors() { return 10; }
    static int maxTransactions() { return 20; }
    // Stored sessions kept; the oldest beyond it are dropped. 50 until set.
    static int maxSessions();
    static void setMaxSessions(int count);
    static std::string agentVersion() { return "189"; }
};
