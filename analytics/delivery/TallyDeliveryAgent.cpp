#include "analytics/delivery/TallyDeliveryAgent.h"

#include <atomic>
#include <cstdio>

#include "platform/base/Digests.h"
#include "platform/base/Directories.h"

class TallyBackgroundTaskTracker;

namespace {

std::atomic<int> logLevel{1};
std::atomic<int> saves{0};
std::mutex stateMutex;
std::string apiKey;
std::map<std::string, std::vector<uint8_t>> cookieMap;

}  // namespace

namespace tally_delivery {

void log(int level, std::string const& line) {
    if (level <= logLevel.load()) std::fprintf(stderr, "%s\n", line.c_str());
}

std::filesystem::path filesFolder() {
    std::filesystem::path const folder = platform::Directories::applicationSupport() / "TallyFiles";
    platform::Directories::create(folder);
    return folder;
}

std::string generateCFUUID() { return platform::newUuidString(); }

void handleException(std::exception const& e) { log(1, std::string("Tally: exception caught: ") + e.what()); }

bool isInBackground() { return false; }
bool isInWatchExtension() { return false; }

uint64_t apiKeyHash() {
    std::lock_guard lock(stateMutex);
    return platform::crc32(apiKey);
}

void clearCookies() {
    std::lock_guard lock(stateMutex);
    cookieMap.clear();
}

void updateIfChangedCookieValue(std::vector<uint8_t> const& value, std::string const& key) {
    std::lock_guard lock(stateMutex);
    if (value.empty()) {
        cookieMap.erase(key);
        return;
    }
    if (!cookieMap.count(key) && cookieMap.size() >= 1000) return;
    cookieMap[key] = value;
}

void savePersistentGlobalsToDisk() { ++saves; }

// Linux has no background tasks.
void startBackgroundTaskTrackingIfNeeded(TallyBackgroundTaskTracker*) {}
void stopBackgroundTasksTracking(TallyBackgroundTaskTracker*) {}

}  // namespace tally_delivery

namespace tally_delivery::stand_in {

void setLogLevel(int level) { logLevel = level; }
void setApiKey(std::string key) {
    std::lock_guard lock(stateMutex);
    apiKey = std::move(key);
}
std::map<std::string, std::vector<uint8_t>> cookies() {
    std::lock_guard lock(stateMutex);
    return cookieMap;
}
void setCookies(std::map<std::string, std::vector<uint8_t>> cookies) {
    std::lock_guard lock(stateMutex);
    cookieMap = std::move(cookies);
}
int savesOfPersistentGlobals() { return saves.load(); }

}  // namespace tally_delivery::stand_in
