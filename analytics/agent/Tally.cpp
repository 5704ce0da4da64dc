#include "analytics/agent/Tally.h"

#include <cstdio>

#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"

std::mutex Tally::mutex_;
std::optional<std::string> Tally::apiKey_;
std::vector<Tally::Event> Tally::events_;
std::vector<std::string> Tally::logLines_;

namespace {
char const* const kBadName = "Tally: Event not logged -- eventName must be of NSString type.";
}

// Called with mutex_ held.
void Tally::log(std::string line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    logLines_.push_back(std::move(line));
}

void Tally::startSession(char const* apiKey) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (apiKey_) {
        log("Tally: startSession has been called already. It should only be called once. Returning.");
        return;
    }
    apiKey_ = apiKey ? apiKey : "";
}

Tally::EventStatus Tally::logEvent(char const* name) { return logEvent(name, Parameters{}); }

void Tally::logEvent(char const* name, bool timed) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!name) {
        log(kBadName);
        return;
    }
    events_.push_back(Event{name, timed, false, {}});
}

Tally::EventStatus Tally::logEvent(char const* name, Parameters const& parameters) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!name) {
        log(kBadName);
        return EventStatus::Failed;
    }
    events_.push_back(Event{name, false, false, parameters});
    return apiKey_ ? EventStatus::Logged : EventStatus::SessionNotStarted;
}

void Tally::endTimedEvent(char const* name, std::optional<Parameters> const& parameters) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!name) {
        log(kBadName);
        return;
    }
    for (Event& e : events_) {
        if (e.timed && !e.ended && e.name == name) {
            e.ended = true;
            e.parameters = parameters.value_or(Parameters{});
            return;
        }
    }
}

void Tally::setAppVersion(std::string const& version) {
    TallyUtil::guarded([&] {
        if (sessionApiKey()) {
            TallyUtil::log(1, "Tally: Please call setAppVersion before startSession.");
            return;
        }
        TallyUtil::log(2, "Tally: setAppVersion[" + version + "]");
        TallyGlobalVariableStorage::sharedInstance()->setAppVersion(version);
    });
}

void Tally::setShowErrorInLogEnabled(bool on) { TallyUtil::setShowErrorInLogEnabled(on); }
void Tally::setLogLevel(int level) { TallyUtil::setLogLevel(level); }
void Tally::setDebugLogEnabled(bool on) { TallyUtil::setLogLevel(on ? 2 : 1); }

void Tally::setSessionContinueSeconds(int seconds) {
    TallyGlobalVariableStorage::sharedInstance()->setPauseSecondsBeforeStartingNewSession(seconds);
}

int Tally::sessionContinueSeconds() {
    return TallyGlobalVariableStorage::sharedInstance()->pauseSecondsBeforeStartingNewSession();
}

void Tally::setCrashReportingEnabled(bool on) {
    TallyGlobalVariableStorage::sharedInstance()->setCrashReportingEnabled(on);
}

void Tally::setMaxSessionsSaved(int count) { TallySessionInfo::setMaxSessions(count); }

std::optional<std::string> Tally::sessionApiKey() {
    std::lock_guard<std::mutex> lock(mutex_);
    return apiKey_;
}

std::vector<Tally::Event> Tally::events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<std::string> Tally::logLines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return logLines_;
}

void Tally::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    apiKey_.reset();
    events_.clear();
    logLines_.clear();
}
