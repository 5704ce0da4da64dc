#pragma once
// Keeps at most one background task open while reports are being sent. The desktop has no
// background tasks, so unless a host says otherwise nothing is ever opened.
#include <cstdint>
#include <memory>

class TallyBackgroundTaskTracker {
public:
    static constexpr uint64_t kInvalidTask = 0;
    static std::shared_ptr<TallyBackgroundTaskTracker> defaultTracker();
    TallyBackgroundTaskTracker();

    void startBackgroundTaskTrackingIfNeeded();
    void stopBackgroundTasksTracking();

    bool isBackgroundSupported() const { return isBackgroundSupported_; }
    void setIsBackgroundSupported(bool v) { isBackgroundSupported_ = v; }
    uint64_t backgroundTask() const { return backgroundTask_; }
    void setBackgroundTask(uint64_t task) { backgroundTask_ = task; }
    // Tasks begun and ended so far.
    uint64_t tasksBegun() const { return begun_; }
    uint64_t tasksEnded() const { return ended_; }

private:
    bool isBackgroundSupported_;
    uint64_t backgroundTask_ = kInvalidTask;
    uint64_t begun_ = 0, ended_ = 0;
};
