#pragma once
// The agent services the delivery classes call, in one place: the gated logger, the files
// folder, new UUIDs, the exception handler, the application's state, the API key's hash and the
// cookie map. The cookie calls can be pointed at a fake store (the reply parser's fuzz target).
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TallyBackgroundTaskTracker;

namespace tally_delivery {

void log(int level, std::string const& line);
std::filesystem::path filesFolder();
std::string generateCFUUID();
void handleException(std::exception const& e);
bool isInBackground();
bool isInWatchExtension();
// The API key's stable hash as the data key prints it (unsigned).
uint64_t apiKeyHash();

void startBackgroundTaskTrackingIfNeeded(TallyBackgroundTaskTracker* tracker);
void stopBackgroundTasksTracking(TallyBackgroundTaskTracker* tracker);

// The persistent cookies map: emptied, or one cookie stored, replaced or removed; then saved.
struct CookieStore {
    std::function<void()> clear;
    std::function<void(std::vector<uint8_t> const& value, std::string const& key)> update;
    std::function<void()> savePersistentGlobals;
};
void setCookieStoreForTesting(std::optional<CookieStore> store);
void clearCookies();
void updateIfChangedCookieValue(std::vector<uint8_t> const& value, std::string const& key);
void savePersistentGlobalsToDisk();

}  // namespace tally_delivery
