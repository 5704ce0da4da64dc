#pragma once
// Start-up settings in one object; build() applies them through Tally's setters.
#include <cstdint>
#include <optional>
#include <string>

class TallySessionBuilder {
public:
    TallySessionBuilder& withAppVersion(std::optional<std::string> version);
    TallySessionBuilder& withCrashReporting(bool on);
    TallySessionBuilder& withSessionContinueSeconds(int64_t seconds);
    TallySessionBuilder& withLogLevel(int level);
    TallySessionBuilder& withShowErrorInLog(bool on);

    // Applies the current fields; may run more than once.
    void build() const;

    bool sessionContinueSecondsSet() const { return sessionContinueSecondsSet_; }
    void setSessionContinueSecondsSet(bool v) { sessionContinueSecondsSet_ = v; }
    bool crashReportingEnabled() const { return crashReportingEnabled_; }
    void setCrashReportingEnabled(bool v) { crashReportingEnabled_ = v; }
    bool showErrorsInLog() const { return showErrorsInLog_; }
    void setShowErrorsInLog(bool v) { showErrorsInLog_ = v; }
    int logLevel() const { return logLevel_; }
    void setLogLevel(int v) { logLevel_ = v; }
    std::optional<std::string> const& appVersion() const { return appVersion_; }
    void setAppVersion(std::optional<std::string> v) { appVersion_ = std::move(v); }
    int64_t sessionContinueSeconds() const { return sessionContinueSeconds_; }
    void setSessionContinueSeconds(int64_t v) { sessionContinueSeconds_ = v; }
    int64_t eventCountThreshold() const { return eventCountThreshold_; }
    void setEventCountThreshold(int64_t v) { eventCountThreshold_ = v; }
    int64_t sessionReportingInterval() const { return sessionReportingInterval_; }
    void setSessionReportingInterval(int64_t v) { sessionReportingInterval_ = v; }

private:
    bool sessionContinueSecondsSet_ = false;
    bool crashReportingEnabled_ = false;
    bool showErrorsInLog_ = false;
    int logLevel_ = 1;
    std::optional<std::string> appVersion_;
    int64_t sessionContinueSeconds_ = 0;
    int64_t eventCountThreshold_ = 0;
    int64_t sessionReportingInterval_ = 0;
};
