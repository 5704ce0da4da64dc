#pragma once
// The agent's one store of settings and state that outlive a session: switches, identities,
// origins and session properties, pulse flags, and the values kept in the persistent globals map.
// It also names the five map files and asks for all of them to be saved.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/SdkLoop.h"
#include "platform/base/Value.h"

using platform::Value;

class TallyTLCrashReporter;

struct TallyLocation {
    double latitude = 0, longitude = 0;
    double horizontalAccuracy = 0, verticalAccuracy = 0;
    platform::Date timestamp;
};

// A plain field read and written whole under the store's lock.
template <class T>
class TallyAtomicField {
public:
    explicit TallyAtomicField(T initial = T()) : value_(std::move(initial)) {}
    T get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return value_;
    }
    void set(T v) {
        std::lock_guard<std::mutex> lock(mutex_);
        value_ = std::move(v);
    }

private:
    mutable std::mutex mutex_;
    T value_;
};

#define TALLY_PLAIN(Type, name, Name, initial)              \
public:                                                     \
    Type name() const { return name##_; }                   \
    void set##Name(Type v) { name##_ = v; }                 \
                                                            \
private:                                                    \
    std::atomic<Type> name##_{initial};

#define TALLY_OBJECT(Type, name, Name)                      \
public:                                                     \
    Type name() const { return name##_.get(); }             \
    void set##Name(Type v) { name##_.set(std::move(v)); }   \
                                                            \
private:                                                    \
    TallyAtomicField<Type> name##_;

class TallyGlobalVariableStorage {
public:
    static std::shared_ptr<TallyGlobalVariableStorage> sharedInstance();
    // Drops the instance; the next sharedInstance starts again from the initial values.
    static void cleanup();
    TallyGlobalVariableStorage();

    // The map files, named with the current API key's hash; a missing one is created holding an
    // empty dictionary.
    static std::filesystem::path persistentGlobalsFilePath();
    static std::filesystem::path persistentCookiesFilePath();
    static std::filesystem::path persistentUrlsFilePath();
    static std::filesystem::path persistentPulseUrlsFilePath();
    static std::filesystem::path persistentPulsePrepUrlsFilePath();
    static std::filesystem::path getPersistentFilePath(std::string const& name);
    // crc32 of the API key's UTF-8 bytes as a signed number; 0 without a key.
    static int32_t apiKeyHash();

    // Stores the key with every space removed; other white space stays.
    void setApiKey(std::optional<std::string> const& key);
    std::optional<std::string> apiKey() const { return apiKey_.get(); }
    void resetLaunchOptions() { launchOptions_.set({}); }
    void savePersistentGlobalsToDisk();
    void recordSessionProperties(std::optional<Value::Dict> const& properties);
    void recordOrigin(std::optional<std::string> const& name, std::optional<std::string> const& version,
                      std::optional<Value::Dict> const& parameters);
    void removePendingUrlTimers();
    // key: what the timer retries, so that the retries of one callback attempt end together.
    void addPendingUrlTimer(platform::SdkLoop::TimerId timer, std::string key = {});
    void removePendingUrlTimers(std::string const& key);
    bool isPartnerIntegration() const;

    // Values in the persistent globals map.
    int32_t maxBitRateKbps() const;
    void setMaxBitRateKbps(int32_t kbps);
    bool appInstallProcessDone() const;
    void setAppInstallProcessDone(bool done);
    std::optional<Value> guidAsIDForSessionReports() const;
    void setGuidAsIDForSessionReports(std::optional<Value> const& guid);
    bool analyticsEnabled() const;
    int32_t logLevel() const;
    bool lastAdTrackingEnabledSetting() const;
    void setLastAdTrackingEnabledSetting(bool on);

    TALLY_PLAIN(bool, sessionReportsOnCloseEnabled, SessionReportsOnCloseEnabled, true)
    TALLY_PLAIN(bool, sessionReportsOnPauseEnabled, SessionReportsOnPauseEnabled, true)
    TALLY_PLAIN(bool, backgroundSessionEnabled, BackgroundSessionEnabled, false)
    TALLY_PLAIN(bool, crashReportingEnabled, CrashReportingEnabled, false)
    TALLY_PLAIN(bool, eventLoggingEnabled, EventLoggingEnabled, true)
    TALLY_PLAIN(bool, hasSessionOriginName, HasSessionOriginName, false)
    TALLY_PLAIN(bool, hasDeepLinkName, HasDeepLinkName, false)
    TALLY_PLAIN(bool, startSessionCalled, StartSessionCalled, false)
    TALLY_PLAIN(bool, optOutSessionPending, OptOutSessionPending, false)
    TALLY_PLAIN(bool, pulseMonitoringEnabled, PulseMonitoringEnabled, false)
    TALLY_PLAIN(bool, pulseRequestPending, PulseRequestPending, false)
    TALLY_PLAIN(int32_t, pauseSecondsBeforeStartingNewSession, PauseSecondsBeforeStartingNewSession, 10)
    TALLY_PLAIN(int32_t, appApplicationState, AppApplicationState, -1)
    TALLY_PLAIN(int32_t, age, Age, -1)
    TALLY_PLAIN(int64_t, adsFetchCount, AdsFetchCount, 0)
    TALLY_PLAIN(int64_t, adRequestsCount, AdRequestsCount, 0)
    TALLY_PLAIN(int64_t, adsReturnedCount, AdsReturnedCount, 0)
    TALLY_PLAIN(int64_t, adsReadyCount, AdsReadyCount, 0)
    TALLY_PLAIN(int64_t, adsImpressionFiredCount, AdsImpressionFiredCount, 0)
    TALLY_OBJECT(std::optional<std::string>, savedResponseUrl, SavedResponseUrl)
    TALLY_OBJECT(std::optional<platform::Date>, pauseTime, PauseTime)
    TALLY_OBJECT(std::optional<platform::Date>, lastPageViewDate, LastPageViewDate)
    TALLY_OBJECT(std::optional<std::string>, appVersion, AppVersion)
    TALLY_OBJECT(std::optional<std::string>, userID, UserID)
    TALLY_OBJECT(std::optional<std::string>, gender, Gender)
    TALLY_OBJECT(std::optional<std::string>, sessionOriginName, SessionOriginName)
    TALLY_OBJECT(std::optional<std::string>, deepLinkName, DeepLinkName)
    TALLY_OBJECT(std::optional<Value::Dict>, sessionParameters, SessionParameters)
    TALLY_OBJECT(std::optional<TallyLocation>, location, Location)
    TALLY_OBJECT(std::shared_ptr<TallyTLCrashReporter>, tallyCrashReporter, TallyCrashReporter)
    TALLY_OBJECT(Value::Array, originSets, OriginSets)
    TALLY_OBJECT(std::optional<platform::Date>, lastPulseReportTime, LastPulseReportTime)

public:
    Value::Dict launchOptions() const { return launchOptions_.get(); }
    void setLaunchOptions(Value::Dict options) { launchOptions_.set(std::move(options)); }
    std::vector<platform::SdkLoop::TimerId> pendingUrlTimers() const;

private:
    TallyAtomicField<std::optional<std::string>> apiKey_;
    TallyAtomicField<Value::Dict> launchOptions_;
    mutable std::mutex instanceLock_;
    mutable std::mutex timersLock_;
    std::vector<std::pair<std::string, platform::SdkLoop::TimerId>> pendingUrlTimers_;
    mutable std::mutex propertiesLock_;  // session properties and origin sets change as wholes
};

#undef TALLY_PLAIN
#undef TALLY_OBJECT
