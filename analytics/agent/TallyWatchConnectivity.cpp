#include "analytics/agent/TallyWatchConnectivity.h"

#include <mutex>

namespace {
std::mutex slotLock;
std::shared_ptr<TallyWatchConnectivity>& slot() {
    static std::shared_ptr<TallyWatchConnectivity> s;
    return s;
}
}  // namespace

std::shared_ptr<TallyWatchConnectivity> TallyWatchConnectivity::defaultConnectivty() {
    std::lock_guard lock(slotLock);
    return slot();
}

void TallyWatchConnectivity::setDefaultConnectivty(std::shared_ptr<TallyWatchConnectivity> connectivity) {
    std::lock_guard lock(slotLock);
    slot() = std::move(connectivity);
}
