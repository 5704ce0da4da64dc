#pragma once
// The analytics agent's public class operations, as the game calls them. Until the agent's
// session model is built this keeps the calls of the current process in memory, so callers can
// be checked; every operation is safe from any thread.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

class Tally {
public:
    // A parameter value: text, a boolean or a number.
    using Value = std::variant<std::string, bool, int64_t, uint64_t, double>;
    using Parameters = std::map<std::string, Value>;

    enum class EventStatus : uint8_t { Logged = 0, Failed = 1, SessionNotStarted = 2 };

    // One event of the session.
    struct Event {
        std::string name;
        bool timed = false;
        bool ended = false;  // a timed event that endTimedEvent closed
        Parameters parameters;
    };

    // Starts the session once per process; later calls only log that they are refused.
    static void startSession(char const* apiKey);
    // A null name stands for a name that is not text: refused with a log line.
    static EventStatus logEvent(char const* name);
    static void logEvent(char const* name, bool timed);
    static EventStatus logEvent(char const* name, Parameters const& parameters);
    // Ends the first still-open timed event of that name, replacing its parameters when given.
    static void endTimedEvent(char const* name, std::optional<Parameters> const& parameters);

    // Settings that a session builder applies; they are stored agent-wide for the next session.
    // The app version can only change before startSession.
    static void setAppVersion(std::string const& version);
    static void setShowErrorInLogEnabled(bool on);
    static void setLogLevel(int level);
    static void setDebugLogEnabled(bool on);
    static void setSessionContinueSeconds(int seconds);
    static int sessionContinueSeconds();
    static void setCrashReportingEnabled(bool on);
    static void setMaxSessionsSaved(int count);

    // What the session holds so far, and the refusal lines logged.
    static std::optional<std::string> sessionApiKey();
    static std::vector<Event> events();
    static std::vector<std::string> logLines();
    // Forgets the session and everything recorded (tests).
    static void reset();

private:
    static void log(std::string line);
    static std::mutex mutex_;
    static std::optional<std::string> apiKey_;
    static std::vector<Event> events_;
    static std::vector<std::string> logLines_;
};
