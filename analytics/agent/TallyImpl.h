#pragma once
// The one object every session operation passes through: it owns the serial session queue and
// the current session, and carries each call over to the session on that queue in call order.
// Recording answers its status at once from counts the session publishes.
#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/agent/TallySession.h"
#include "platform/base/WorkQueue.h"

class TallyImpl : public std::enable_shared_from_this<TallyImpl> {
public:
    static constexpr char const* kQueueLabel = "com.Tally.Analytics.Session";
    // Event record statuses.
    enum Status : int { kInvalid = 0, kAccepted = 1, kTooManyNames = 2, kTooManyParameters = 3, kLogFull = 4,
                        kCached = 5, kAnalyticsDisabled = 6 };

    static std::shared_ptr<TallyImpl> instance();
    // Runs what is queued, then drops the singleton; the next instance has a new queue.
    static void cleanup();
    // The façade as the current-session handle: absent until set up for a key, and after cleanup.
    static std::shared_ptr<TallyImpl> currentSession();
    static void setupCurrentSessionWithKey(std::optional<std::string> const& key);

    // The desktop has no background tasks: the invalid task unless the device profile says so,
    // and then one numbered task that nothing expires.
    static uint64_t registerBackgoundTask();
    static void unregisterBackgoundTask(uint64_t task);

    TallyImpl();
    platform::WorkQueue& queue() { return *queue_; }
    bool isBackgroundSupported() const { return isBackgroundSupported_; }
    void setupForApiKey(std::optional<std::string> const& key);
    std::optional<std::string> apiKey() const;

    // Queued on the session queue.
    void setLatitude(double latitude, double longitude, float horizontalAccuracy, float verticalAccuracy);
    void setEventLoggingEnabled(bool on);
    void setUserID(std::optional<std::string> userID);
    void setSessionReportsOnCloseEnabled(bool on);
    void setSessionReportsOnPauseEnabled(bool on);
    void setCrashReportingEnabled(bool on);
    void maybeIncrementPageView();
    void setGenderAsString(std::optional<std::string> gender);
    void setAgeInYears(int age);
    void endTimedEvent(std::optional<std::string> name, std::optional<Value::Dict> parameters);
    // A store purchase, handed to the session's transaction recorder; with no session the
    // callback hears 0 (not recorded).
    using TransactionStatusCallback = TallySession::TransactionStatusCallback;
    void recordTransaction(SKPaymentTransaction transaction, TransactionStatusCallback statusCallback);
    void recordError(std::optional<std::string> errorId, std::optional<std::string> message,
                     std::optional<TallySession::ExceptionInfo> exception, std::optional<Data> liveReport);
    void recordError(std::optional<std::string> errorId, std::optional<std::string> message,
                     std::optional<platform::Error> error, std::optional<Data> liveReport);
    void recordError(std::optional<std::string> errorId, std::optional<std::string> message,
                     std::string exceptionString, int errorType, std::optional<Data> liveReport);
    void markSessionAsResuming();
    void resumeSession();
    void pauseSession();
    void endSessionAsync();
    void sendSessionsToServerForCreateSession();
    void removeInstallationIDFromKeychain();
    // Queued too, so it never races the queue's own changes of the session.
    void setEndTime(std::optional<platform::Date> date);

    // Waiting on the session queue; never from a block already on it (such a call runs inline).
    void endSession();
    double latitude();
    double longitude();
    double accuracy();
    int gender();
    std::optional<platform::Date> age();
    int pageViewCount();
    std::optional<platform::Date> pauseTime();
    std::optional<platform::Date> startTime();
    std::optional<platform::Date> endTime();
    std::optional<platform::Date> initialTimestamp();
    int64_t totalPauseIntervalMillis();
    bool isTallyUserInfo(Value::Dict const& userInfo);
    bool tallyUserInfo(Value::Dict const& userInfo) { return isTallyUserInfo(userInfo); }
    std::optional<std::string> installationIDForSessionReport();
    // Runs the block with the session (or none) on the queue and waits.
    void withSession(std::function<void(TallySession*)> const& block);

    // Status at once, recording queued.
    int recordEvent(std::optional<std::string> name, std::optional<Value::Dict> parameters, bool timed = false,
                    std::shared_ptr<platform::Archivable> transaction = nullptr);

private:
    // Events on their way to the session, in fixed blocks that go back to the caller's side
    // once recorded.
    struct PendingEvent {
        std::optional<std::string> name;
        std::optional<Value::Dict> parameters;
        bool timed = false;
        std::shared_ptr<platform::Archivable> transaction;
    };
    struct Chunk {
        static constexpr size_t kSize = 16;
        std::array<PendingEvent, kSize> events;
        size_t count = 0;
    };
    static constexpr size_t kMaxFreeChunks = 512;
    void handOverEvents();

    template <class F>
    void forward(F f);
    template <class T, class F>
    T get(T fallback, F f);
    std::shared_ptr<platform::WorkQueue> queue_;
    bool isBackgroundSupported_ = false;
    std::shared_ptr<TallySession> session_;  // on the queue only
    // The session as callers on other threads see it, for the status counts.
    std::atomic<std::shared_ptr<TallySession>> published_;
    // Recording's caller only appends to the intake; one block on the queue takes it over. While
    // the queue is busy a caller so pays neither an allocation nor the queue's lock per event,
    // and memory it touches comes back to it. Guarded by intakeLock_.
    std::mutex intakeLock_;
    std::vector<std::unique_ptr<Chunk>> intake_;      // logged, not yet taken
    std::vector<std::unique_ptr<Chunk>> freeChunks_;  // recorded, for reuse
    uint64_t chunksTaken_ = 0;                        // chunks taken before intake_[0]
    std::deque<uint64_t> ends_;     // where the chunks of each older queued hand-over end
    bool handOverQueued_ = false;   // the newest hand-over is queued and has taken nothing
    uint64_t handOverPlace_ = 0;    // the queue's count for that block
    std::vector<std::unique_ptr<Chunk>> handing_;  // on the queue only
    mutable std::mutex apiKeyLock_;
    std::optional<std::string> apiKey_;
};
