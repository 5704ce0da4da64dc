#pragma once
// The public calls of a watch extension. Events and errors are checked here and recorded on the
// watch session's queue; they are refused outside a watch extension and without the bundle's
// watch API key.
#include <optional>
#include <string>

#include "analytics/agent/TallySession.h"
#include "platform/base/Value.h"

class TallyWatch {
public:
    // The bundle's "Tally Watch API Key", read once; when present it is the agent's API key too.
    static std::optional<std::string> apiKey();
    // Statuses: 0 not logged, 1 logged (queued), 3 more than 10 parameters.
    static int logWatchEvent(std::optional<std::string> const& name);
    static int logWatchEvent(std::optional<std::string> const& name, std::optional<Value::Dict> const& parameters);
    static void logWatchError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                              std::optional<platform::Error> const& error);
    static void logWatchError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                              TallySession::ExceptionInfo const& exception);
    static void disableWatchConnectivity();
    // For a watch app whose own session delegate receives user info: whether it is the agent's,
    // and (tallyUserInfo) letting the agent keep the phone's identifiers from it.
    static bool isTallyUserInfo(Value::Dict const& userInfo);
    static bool tallyUserInfo(Value::Dict const& userInfo);
    static void setServerURL(std::string const& url);
    // Forgets the key read from the bundle (tests change the bundle).
    static void resetForTesting();

private:
    static bool errorArgumentsValid(std::optional<std::string> const& errorId, std::optional<std::string> const& message);
};
