#include "analytics/delivery/TallyHeartBeater.h"

#include <mutex>

#include "platform/base/NotificationCenter.h"
#include "platform/base/SdkLoop.h"

namespace {
std::mutex classLock;
std::shared_ptr<TallyHeartBeater>& shared() {
    static auto* instance = new std::shared_ptr<TallyHeartBeater>;  // outlives the other statics
    return *instance;
}
}  // namespace

std::shared_ptr<TallyHeartBeater> TallyHeartBeater::createAndStartInstance(double intervalSeconds) {
    std::lock_guard lock(classLock);
    if (!shared()) {
        shared() = std::make_shared<TallyHeartBeater>(platform::SdkLoop::shared());
        shared()->start(intervalSeconds);
    }
    return shared();
}

std::shared_ptr<TallyHeartBeater> TallyHeartBeater::instance() {
    std::lock_guard lock(classLock);
    return shared();
}

void TallyHeartBeater::cleanup() {
    std::shared_ptr<TallyHeartBeater> old;
    std::lock_guard lock(classLock);
    old = std::move(shared());
}

TallyHeartBeater::TallyHeartBeater(platform::SdkLoop& loop) : loop_(loop) {}

TallyHeartBeater::~TallyHeartBeater() {
    if (timer_) loop_.invalidateTimer(timer_);
}

void TallyHeartBeater::start(double intervalSeconds) {
    if (timer_) loop_.invalidateTimer(timer_);
    // The timer only posts the notification; it needs nothing of this object.
    timer_ = loop_.scheduleTimer(int64_t(intervalSeconds * 1000.0), true, [] {
        platform::NotificationCenter::shared().post(kHeartBeatNotification);
    });
}

void TallyHeartBeater::heartBeat() { platform::NotificationCenter::shared().post(kHeartBeatNotification); }
