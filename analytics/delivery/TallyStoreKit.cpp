#include "analytics/delivery/TallyStoreKit.h"

#include <mutex>

namespace {
std::mutex storeMutex;
std::shared_ptr<TallyStoreKit>& slot() {
    static auto* store = new std::shared_ptr<TallyStoreKit>;  // outlives the other statics
    return *store;
}
}  // namespace

std::shared_ptr<TallyStoreKit> TallyStoreKit::shared() {
    std::lock_guard<std::mutex> lock(storeMutex);
    return slot();
}

void TallyStoreKit::setShared(std::shared_ptr<TallyStoreKit> store) {
    std::lock_guard<std::mutex> lock(storeMutex);
    slot() = std::move(store);
}
