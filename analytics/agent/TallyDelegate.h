#pragma once
// What a host may hear from the agent. Every operation has a default that does nothing, so a
// host overrides only what it wants.
#include "platform/base/Value.h"

class TallyDelegate {
public:
    virtual ~TallyDelegate() = default;
    // A session was created: "apiKey" (the stored key) and "sessionId". Runs on the thread that
    // created the session (start-up, or the return to the foreground after the pause window).
    virtual void tallySessionDidCreateWithInfo(platform::Value::Dict const&) {}
};
