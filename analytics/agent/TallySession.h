#pragma once
// One analytics session of the app: its timing (start, pauses, end), its event log, pending log
// and errors, location and user facts, and the flags that decide when reports are sent. Every
// method runs on the session queue; the class lock guards the current session and the data
// sender's delegate.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/agent/TallyError.h"
#include "analytics/agent/TallyEvent.h"
#include "analytics/agent/TallyPreCacheEventManager.h"
#include "analytics/agent/TallyWatchConnectivityDelegate.h"
#include "analytics/delivery/TallyDataSenderDelegate.h"
#include "analytics/delivery/TallyStoreKit.h"
#include "platform/base/KeyedArchive.h"

using platform::Data;
using platform::Value;

class TallySession : public TallyDataSenderDelegate,
                     public TallyWatchConnectivityDelegate,
                     public platform::Archivable,
                     public std::enable_shared_from_this<TallySession> {
public:
    static constexpr char const* kClassName = "TallySession";
    static constexpr int kSerializationVersion = 9;
    // Event recording results of the session.
    enum RecordStatus : unsigned { kInvalid = 0, kRecorded = 1, kTooManyParameters = 3, kLimitReached = 4, kPending = 5 };
    // An exception as the session summarises it, and an error as the platform reports it.
    struct ExceptionInfo {
        std::string name, reason;
    };

    // What the session needs of the crash reporter, which start-up installs when crash
    // reporting is on; until then there is no pending report.
    struct Neighbours {
        std::function<bool()> hasPendingCrashReport;
        std::function<std::optional<Data>(platform::Error* error)> loadPendingCrashReportData;
        std::function<void()> purgePendingCrashReport;
    };
    static void setNeighbours(Neighbours neighbours);
    static Neighbours neighbours();

    // A new session: takes in a session the previous run left behind, records the pre-session
    // events in order (emptying the list) and posts "TallySessionStarted".
    static std::shared_ptr<TallySession> sessionWithApiKey(std::string const& apiKey, platform::Date startTime,
                                                           TallyPreCacheEventManager::PreCacheLog& preCacheLog);
    static std::shared_ptr<TallySession> create(std::string const& apiKey, std::optional<std::string> appVersion,
                                                platform::Date startDate);
    // The next session, made under the pre-cache lock, taking over the events recorded while
    // this one was paused.
    std::shared_ptr<TallySession> sessionWithNewEventsWithApiKey(std::string const& apiKey, platform::Date startTime);
    ~TallySession() override;

    // The current session and its id ("%lld" of its start in ms since 1970).
    static std::shared_ptr<TallySession> currentSession();
    static void setCurrentSession(std::shared_ptr<TallySession> session);
    static std::string sessionId();
    static std::recursive_mutex& classLock();
    static std::string getAgentVersionWithBuild();
    static std::string getTallyVersion();
    static std::string getAgentVersion();

    void resetSessionData();
    void pauseSession();
    void markSessionAsResuming();
    void resumeSession();
    void archiveSession();
    void endSession();
    void endSessionAsync() { endSession(); }
    void finishSession();

    void setSessionReportsOnCloseEnabled(bool on);
    void setSessionReportsOnPauseEnabled(bool on);
    void setCrashReportingEnabled(bool on);
    void setEventLoggingEnabled(bool on);
    void setLatitude(double latitude, double longitude, float horizontalAccuracy, float verticalAccuracy);
    void setUserID(std::optional<std::string> userID);
    void setGenderAsString(std::optional<std::string> const& gender);
    // Ages outside 1 to 150 are ignored.
    void setAgeInYears(int age);
    void maybeIncrementPageView();

    bool isPaused() const { return pauseTime().has_value(); }
    int64_t timeIntervalSinceSessionStart(std::optional<platform::Date> date) const;
    int64_t sessionLength() const;  // -1 until finished
    // 0 unknown, 1 unplugged, 2 charging, 3 full.
    static int getBatteryState();
    bool sentReportSuccessful() const;

    // Recording.
    unsigned recordEvent(std::optional<std::string> const& name, std::optional<Value::Dict> const& parameters,
                         bool timed = false, std::shared_ptr<platform::Archivable> transaction = nullptr);
    void endTimedEvent(std::optional<std::string> const& name, std::optional<Value::Dict> const& parameters);
    // The purchase goes to the transaction recorder, which logs it on the current session.
    using TransactionStatusCallback = std::function<void(int32_t)>;
    void recordTransaction(SKPaymentTransaction transaction, TransactionStatusCallback statusCallback);
    void endTimedEvents();
    int totalEventCount() const;
    void recordError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                     std::optional<ExceptionInfo> const& exception, std::optional<Data> const& liveReport);
    void recordError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                     std::optional<platform::Error> const& error, std::optional<Data> const& liveReport);
    void recordError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                     std::string const& exceptionString, int errorType, std::optional<Data> const& liveReport);
    unsigned putEventIntoLog(std::shared_ptr<TallyEvent> const& event);
    void uploadPartialSessionDataIfNeeded(bool force);
    void mergePendingEventLog();
    void mergeValidPendingEventLog();
    void resetEventLogs();

    // Stored sessions: the current-session archive, the saved session blocks (oldest first), the
    // initial timestamp and the installation id.
    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;
    static void registerArchiveClass();
    void saveToDisk();
    static std::vector<Data> savedSessions();
    static void setSavedSessions(std::vector<Data> const& sessions);
    static void addToSavedSessions(std::shared_ptr<TallySession> const& session);
    static void removeOldSessionsIfNecessary(std::vector<Data>& sessions);
    static void removeCurrentSessionFile();
    static std::shared_ptr<TallySession> unarchiveCurrentSession();
    static std::filesystem::path sessionsFilePath();
    static std::filesystem::path currentSessionFilePath();
    static std::filesystem::path currentWatchSessionFilePath();
    static std::filesystem::path currentWatchAutoIncrementFilePath();
    static std::filesystem::path initialTimestampFilePath();
    static std::filesystem::path oldInitialTimestampFilePathUptilAgentVersion109();
    platform::Date initialTimestamp();
    // The first-run time kept for this key, made from the start time when there is none.
    static platform::Date initialTimestampFor(std::string const& apiKey, platform::Date start);
    static std::string installationIDForSessionReport();
    static Data installationIDAsBytes();
    static void removeInstallationIDFromKeychain();
    static void migrateInstallIDFromDiskToKeychain();
    // Drops what the tests' previous run left in memory (the current session handle, held blocks).
    static void resetStoreForTesting();

    // The report: the session block, and the request body around any number of blocks.
    void getSessionParametersAtPhase(int phase, int callSite);
    std::optional<Data> data();
    std::optional<Data> dataForSessions(std::vector<Data> const& blocks);
    // Absent entries (sessions whose block could not be built) are skipped and not counted.
    std::optional<Data> dataForSessions(std::vector<std::optional<Data>> const& blocks);
    std::optional<Data> dataForSending(std::vector<Data> const& datas) override;
    // 0 for a key that is not tracked, 1 when the value changed (and is stored), 2 unchanged.
    static uint8_t updateIfTrackedAndChangedPropertyValue(std::string const& value, std::string const& key);

    // Sending and the identifiers passed to a paired watch.
    void sendSessionsToServerIncludingCurrentSession(bool includeCurrent);
    void sendSessionsToServerForCreateSession();
    void transferIDs();
    static bool isTallyUserInfo(std::vector<std::string> const& keys);
    using TallyWatchConnectivityDelegate::isTallyUserInfo;
    bool tallyUserInfo(Value::Dict const& userInfo);
    static void disableWatchConnectivity();
    static void disableTransferOfTallyInfo();

    // Counts published after every change, for callers on other threads.
    size_t publishedEventNameCount() const { return publishedNames_.load(std::memory_order_acquire); }
    size_t publishedEventLogCount() const { return publishedLog_.load(std::memory_order_acquire); }

    // Fields.
    static constexpr size_t kMaxPendingEvents = 1000;
    static constexpr size_t kMaxCrashReportBytes = 16u << 20;
    bool crashed() const { return crashed_; }
    void setCrashed(bool v) { crashed_ = v; }
    bool truncated() const { return truncated_; }
    bool eventLogComplete() const { return eventLogComplete_; }
    void setEventLogComplete(bool v) { eventLogComplete_ = v; }
    bool eventLoggingEnabled() const { return eventLoggingEnabled_; }
    bool sessionReportsOnCloseEnabled() const { return sessionReportsOnCloseEnabled_; }
    bool sessionReportsOnPauseEnabled() const { return sessionReportsOnPauseEnabled_; }
    bool crashReportingEnabled() const { return crashReportingEnabled_; }
    float accuracy() const { return accuracy_; }
    int pageViewCount() const { return pageViewCount_; }
    int totalErrorCount() const { return totalErrorCount_; }
    int gender() const { return gender_; }
    std::optional<Data> const& crashReportData() const { return crashReportData_; }
    void setCrashReportData(std::optional<Data> d) { crashReportData_ = std::move(d); }
    platform::Date startTime() const;
    void setStartTime(platform::Date d);
    std::string apiKey() const;
    Value::Dict const& sessionParams() const { return sessionParams_; }
    Value::Dict& sessionParams() { return sessionParams_; }
    Value::Dict const& sessionPropertyParams() const { return sessionPropertyParams_; }
    double latitude() const { return latitude_; }
    double longitude() const { return longitude_; }
    std::optional<std::string> const& appVersion() const { return appVersion_; }
    std::optional<platform::Date> endTime() const { return endTime_; }
    void setEndTime(std::optional<platform::Date> d) { endTime_ = d; }
    std::optional<platform::Date> resumeTime() const;
    std::optional<platform::Date> pauseTime() const;
    void setPauseTime(std::optional<platform::Date> d);
    int64_t totalPauseIntervalMillis() const { return totalPauseIntervalMillis_; }
    void setTotalPauseIntervalMillis(int64_t ms) { totalPauseIntervalMillis_ = ms; }
    std::map<std::string, int> const& eventCounts() const { return eventCounts_; }
    std::vector<std::shared_ptr<TallyEvent>> const& pendingEventLog() const { return pendingEventLog_; }
    std::vector<std::shared_ptr<TallyEvent>> const& eventLog() const { return eventLog_; }
    std::vector<std::shared_ptr<TallyError>> const& errors() const { return errors_; }
    std::string const& locale() const { return locale_; }
    std::string const& timeZone() const { return timeZone_; }
    std::string userID() const { return userID_.value_or(""); }
    std::optional<std::string> const& sessionOriginName() const { return sessionOriginName_; }
    std::optional<std::string> const& deepLinkName() const { return deepLinkName_; }
    std::optional<platform::Date> lastPartialUploadTime() const;
    std::optional<platform::Date> age() const { return age_; }

    int serializationVersion() const { return serializationVersion_; }
    int appApplicationState() const { return appApplicationState_; }

private:
    void publishCounts() {
        publishedNames_.store(eventCounts_.size(), std::memory_order_release);
        publishedLog_.store(eventLog_.size(), std::memory_order_release);
    }
    TallySession(std::string apiKey, std::optional<std::string> appVersion, platform::Date startDate);
    void installAsDataSenderDelegate();
    void sendPulseSessionEnd();
    Value::Dict pulseTimes() const;

    int serializationVersion_ = 0;
    bool backgroundSessionEnabled_ = false;
    int appApplicationState_ = -1;
    bool hasSessionOriginName_ = false, hasDeepLinkName_ = false;
    std::optional<std::string> watchAppVersion_;
    int watchEventThreshold_ = 0, watchDurationThreshold_ = 0;
    std::atomic<size_t> publishedNames_{0}, publishedLog_{0};
    bool crashed_ = false;
    bool truncated_ = false;
    bool eventLogComplete_ = true;
    bool eventLoggingEnabled_ = true;
    bool sessionReportsOnCloseEnabled_ = true;
    bool sessionReportsOnPauseEnabled_ = false;
    bool crashReportingEnabled_ = false;
    float accuracy_ = 0;
    int pageViewCount_ = 0;
    int totalErrorCount_ = 0;
    int gender_ = -1;
    std::optional<Data> crashReportData_;
    std::string apiKey_;
    Value::Dict sessionParams_;
    Value::Dict sessionPropertyParams_;
    double latitude_ = 0, longitude_ = 0;
    std::optional<std::string> appVersion_;
    std::optional<platform::Date> endTime_;
    int64_t totalPauseIntervalMillis_ = 0;
    std::map<std::string, int> eventCounts_;
    std::vector<std::shared_ptr<TallyEvent>> pendingEventLog_;
    std::vector<std::shared_ptr<TallyEvent>> eventLog_;
    std::vector<std::shared_ptr<TallyError>> errors_;
    std::string locale_, timeZone_;
    std::optional<std::string> userID_;
    std::optional<std::string> sessionOriginName_, deepLinkName_;
    std::optional<platform::Date> age_;
    // Atomic in the phone's sense: read from other threads (the session id, the sender).
    mutable std::mutex timesMutex_;
    platform::Date startTime_;
    std::optional<platform::Date> pauseTime_, resumeTime_, lastPartialUploadTime_;
};
