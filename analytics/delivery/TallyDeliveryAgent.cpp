#include "analytics/delivery/TallyDeliveryAgent.h"

#include <mutex>

#include "analytics/agent/TallyBackgroundTaskTracker.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyUtil.h"

namespace {
std::mutex storeMutex;
std::optional<tally_delivery::CookieStore>& fakeStore() {
    static auto* store = new std::optional<tally_delivery::CookieStore>;  // senders ask until the process is gone
    return *store;
}

std::optional<tally_delivery::CookieStore> currentFake() {
    std::lock_guard lock(storeMutex);
    return fakeStore();
}
}  // namespace

namespace tally_delivery {

void log(int level, std::string const& line) { TallyUtil::log(level, line); }
std::filesystem::path filesFolder() { return TallyUtil::filePathDirectory(); }
std::string generateCFUUID() { return TallyUtil::generateCFUUID(); }
void handleException(std::exception const& e) { TallyUtil::handleException(std::make_exception_ptr(e)); }
bool isInBackground() { return TallyUtil::isInBackground(); }
bool isInWatchExtension() { return TallyUtil::isInWatchExtension(); }
uint64_t apiKeyHash() { return uint64_t(uint32_t(TallyGlobalVariableStorage::apiKeyHash())); }

void startBackgroundTaskTrackingIfNeeded(TallyBackgroundTaskTracker* tracker) {
    if (tracker) tracker->startBackgroundTaskTrackingIfNeeded();
}
void stopBackgroundTasksTracking(TallyBackgroundTaskTracker* tracker) {
    if (tracker) tracker->stopBackgroundTasksTracking();
}

void setCookieStoreForTesting(std::optional<CookieStore> store) {
    std::lock_guard lock(storeMutex);
    fakeStore() = std::move(store);
}

void clearCookies() {
    if (auto fake = currentFake()) return fake->clear();
    TallyGlobalPersistentManager::sharedInstance()->processWriteOperationForPersistentCookiesMap(
        [](platform::Value::Dict& cookies) { cookies.clear(); });
}

void updateIfChangedCookieValue(std::vector<uint8_t> const& value, std::string const& key) {
    if (auto fake = currentFake()) return fake->update(value, key);
    TallyUtil::updateIfChangedCookieValue(&value, key);
}

void savePersistentGlobalsToDisk() {
    if (auto fake = currentFake()) return fake->savePersistentGlobals();
    TallyGlobalVariableStorage::sharedInstance()->savePersistentGlobalsToDisk();
}

}  // namespace tally_delivery
