#include "analytics/agent/TallyBackgroundTaskTracker.h"

#include "analytics/agent/TallyUtil.h"
#include "platform/base/DeviceFacts.h"

std::shared_ptr<TallyBackgroundTaskTracker> TallyBackgroundTaskTracker::defaultTracker() {
    // Never destroyed: the senders' threads hold on to it until the process is gone.
    static auto* tracker = new std::shared_ptr<TallyBackgroundTaskTracker>(std::make_shared<TallyBackgroundTaskTracker>());
    return *tracker;
}

TallyBackgroundTaskTracker::TallyBackgroundTaskTracker()
    : isBackgroundSupported_(platform::DeviceFacts::profile().multitaskingSupported) {}

void TallyBackgroundTaskTracker::startBackgroundTaskTrackingIfNeeded() {
    if (TallyUtil::isInWatchExtension() || !isBackgroundSupported_ || backgroundTask_ != kInvalidTask) return;
    TallyUtil::log(2, "-[TallyBackgroundTaskTracker startBackgroundTaskTrackingIfNeeded]: start background task");
    backgroundTask_ = ++begun_;
}

void TallyBackgroundTaskTracker::stopBackgroundTasksTracking() {
    if (TallyUtil::isInWatchExtension() || !isBackgroundSupported_ || backgroundTask_ == kInvalidTask) return;
    TallyUtil::log(2, "-[TallyBackgroundTaskTracker stopBackgroundTasksTracking]: stop background task");
    ++ended_;
    backgroundTask_ = kInvalidTask;
}
