#pragma once
// Keeps every trigger invocation with its callback reports and attempts, in memory and in one
// archive file; merges each attempt's outcome, decides when a status report is due (enough
// outcomes, or enough time since the last report), builds it and hands it to the report sender,
// then drops what was handed over.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "analytics/delivery/TallyPulseTriggerInvokeInfo.h"
#include "platform/base/WorkQueue.h"

class TallyPulseCallbackReportManager {
public:
    using Invoke = std::shared_ptr<TallyPulseTriggerInvokeInfo>;
    using Attempt = std::shared_ptr<TallyPulseCallbackAttemptInfo>;

    static std::shared_ptr<TallyPulseCallbackReportManager> sharedInstance();
    // A fresh manager read from the file again (tests only).
    static void resetForTesting();

    TallyPulseCallbackReportManager();

    void archiveAttempt(Attempt attempt);
    void performArchiveAttempt(Attempt const& attempt);
    bool addToSavedTriggers(Invoke invoke);
    void setSavedTriggers(std::vector<Invoke> const& triggers);
    std::vector<Invoke> savedTriggers();
    static std::filesystem::path reportsFilePath();
    void updateTotalAttemptsCount(std::vector<Invoke> const& triggers);
    void checkAndSendReportsToServer();
    void sendCallBackInfoToServer();
    std::optional<platform::Data> dataForSending(std::vector<platform::Data> const& reports);
    // The callback status report over invocation records in binary form.
    static std::optional<platform::Data> callbackStatusDataForReports(std::vector<platform::Data> const& reports);

    // Runs the block under the manager's lock (the lock every change of the records takes).
    void withLock(std::function<void()> const& block);
    std::vector<Invoke> triggers() const;
    void setTriggers(std::vector<Invoke> triggers);
    uint64_t totalAttemptCount() const { return totalAttemptCount_.load(); }
    void setTotalAttemptCount(uint64_t n) { totalAttemptCount_ = n; }
    platform::WorkQueue& queue() { return *queue_; }

private:
    mutable std::recursive_mutex lock_;
    std::vector<Invoke> triggers_;
    std::atomic<uint64_t> totalAttemptCount_{0};
    std::unique_ptr<platform::WorkQueue> queue_;
};
