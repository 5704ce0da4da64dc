#include "analytics/agent/TallySessionBuilder.h"

#include <atomic>

#include "analytics/agent/Tally.h"
#include "analytics/agent/TallySessionInfo.h"

namespace {
std::atomic<int> gMaxSessions{50};
}

int TallySessionInfo::maxSessions() { return gMaxSessions; }
void TallySessionInfo::setMaxSessions(int count) { gMaxSessions = count; }

TallySessionBuilder& TallySessionBuilder::withAppVersion(std::optional<std::string> version) {
    appVersion_ = std::move(version);
    return *this;
}

TallySessionBuilder& TallySessionBuilder::withCrashReporting(bool on) {
    crashReportingEnabled_ = on;
    return *this;
}

TallySessionBuilder& TallySessionBuilder::withSessionContinueSeconds(int64_t seconds) {
    sessionContinueSecondsSet_ = true;
    sessionContinueSeconds_ = seconds;
    return *this;
}

TallySessionBuilder& TallySessionBuilder::withLogLevel(int level) {
    logLevel_ = level;
    return *this;
}

TallySessionBuilder& TallySessionBuilder::withShowErrorInLog(bool on) {
    showErrorsInLog_ = on;
    return *this;
}

void TallySessionBuilder::build() const {
    if (appVersion_) Tally::setAppVersion(*appVersion_);
    Tally::setShowErrorInLogEnabled(showErrorsInLog_);
    Tally::setLogLevel(logLevel_);
    if (sessionContinueSecondsSet_) Tally::setSessionContinueSeconds(static_cast<int32_t>(sessionContinueSeconds_));
    Tally::setCrashReportingEnabled(crashReportingEnabled_);
}
