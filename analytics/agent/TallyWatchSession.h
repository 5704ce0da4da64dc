#pragma once
// The analytics session of a watch extension: configured from the bundle's keys, it counts events
// and errors, keeps itself on disk after each, ends itself after a number of events or minutes
// and then hands one report to the data sender. Everything runs on its own serial queue.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/agent/TallyError.h"
#include "analytics/agent/TallyEvent.h"
#include "analytics/agent/TallySession.h"
#include "analytics/agent/TallyWatchConnectivityDelegate.h"
#include "analytics/delivery/TallyDataSenderDelegate.h"
#include "platform/base/KeyedArchive.h"
#include "platform/base/WorkQueue.h"

class TallyWatchSession : public TallyDataSenderDelegate,
                          public TallyWatchConnectivityDelegate,
                          public platform::Archivable,
                          public std::enable_shared_from_this<TallyWatchSession> {
public:
    static constexpr char const* kClassName = "TallyWatchSession";
    static constexpr int kSerializationVersion = 7;

    static platform::WorkQueue& queue();
    // The running session: loaded from disk, or made from the bundle's keys; ended first when it
    // has run past its duration. None without a watch API key.
    static std::shared_ptr<TallyWatchSession> currentWatchSession();
    static std::string getAgentVersionWithBuild() { return "Tally_iOS_189_7.3.0"; }
    static std::shared_ptr<TallyWatchSession> sessionWithApiKey(std::string const& apiKey, platform::Date startTime);
    static void registerArchiveClass();
    static std::filesystem::path currentWatchSessionFilePath();
    static std::filesystem::path currentWatchIDsFilePath();
    static std::filesystem::path currentWatchAutoIncrementFilePath();
    // Drops the current session from memory (tests).
    static void resetForTesting();

    // Recording: the session's status codes, then the threshold check.
    int recordWatchEvent(std::optional<std::string> const& name, std::optional<Value::Dict> const& parameters);
    int recordWatchError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                         std::optional<platform::Error> const& error);
    int recordWatchError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                         TallySession::ExceptionInfo const& exception);
    int recordEvent(std::optional<std::string> const& name, std::optional<Value::Dict> const& parameters, bool timed);
    int recordError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                    std::string const& exceptionString, int errorType);

    // The phone's identifiers arrive on the connectivity queue or the watch app's thread.
    bool isTallyUserInfo(Value::Dict const& userInfo) const override;
    bool tallyUserInfo(Value::Dict const& userInfo) { return didReceiveUserInfo(userInfo); }
    bool didReceiveUserInfo(Value::Dict const& userInfo) override;
    void disableWatchConnectivity();

    std::optional<Data> data();
    std::optional<Data> dataForSessions(std::vector<Data> const& blocks);
    std::optional<Data> dataForSending(std::vector<Data> const& datas) override;

    void resetSessionData();
    void resetEventLogs();
    void finishSession();
    void finishWatchEvent();
    void endWatchSession();
    void saveWatchSessionToDisk();
    void clearWatchSessionOnDisk();
    void sendSessionsToServer();
    bool hasWatchSessionExpired() const;
    int totalEventCount() const;
    int64_t sessionLength() const;
    platform::Date initialTimestamp();
    void getSessionParametersAtPhase(int phase);

    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;

    int watchEventThreshold() const { return watchEventThreshold_; }
    int watchDurationThreshold() const { return watchDurationThreshold_; }
    int serializationVersion() const { return serializationVersion_; }
    bool eventLogComplete() const { return eventLogComplete_; }
    int totalErrorCount() const { return totalErrorCount_; }
    std::string userID() const { return userID_.value_or(""); }
    platform::Date startTime() const { return startTime_; }
    void setStartTime(platform::Date d) { startTime_ = d; }
    std::optional<platform::Date> endTime() const { return endTime_; }
    std::map<std::string, int> const& eventCounts() const { return eventCounts_; }
    std::vector<std::shared_ptr<TallyEvent>> const& eventLog() const { return eventLog_; }
    std::vector<std::shared_ptr<TallyError>> const& errors() const { return errors_; }
    std::optional<Value::Dict> watchIDs() const;

private:
    TallyWatchSession(std::string apiKey, std::optional<std::string> appVersion, platform::Date startDate);
    void applyBundleSettings();
    // Records the error (type 1) or exception (type 2) as its summary text, then the threshold check.
    int recordWatchErrorSummary(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                                char const* kind, std::string const& summary, int errorType);
    void loadWatchIDsFromDisk();
    void saveWatchIDsToDisk();

    bool eventLogComplete_ = true;
    int serializationVersion_ = 0;
    float accuracy_ = 0;
    int totalErrorCount_ = 0;
    int gender_ = -1;
    int watchEventThreshold_ = 10;
    int watchDurationThreshold_ = 10;
    std::optional<std::string> userID_;
    std::string apiKey_;
    std::optional<std::string> appVersion_;
    mutable std::mutex idsLock_;
    std::optional<Value::Dict> watchIDs_;  // guarded by idsLock_
    platform::Date startTime_;
    std::optional<platform::Date> endTime_;
    double latitude_ = 0, longitude_ = 0;
    std::map<std::string, int> eventCounts_;
    std::vector<std::shared_ptr<TallyEvent>> eventLog_;
    std::vector<std::shared_ptr<TallyError>> errors_;
    Value::Dict sessionParams_;
    std::string locale_, timeZone_;
};
