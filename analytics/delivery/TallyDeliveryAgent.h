#pragma once
// The few agent services the delivery classes call, in one place: the gated logger, the files
// folder, new UUIDs, the exception handler and the application's background state.
#include <exception>
#include <filesystem>
#include <string>

namespace tally_delivery {

void log(int level, std::string const& line);
std::filesystem::path filesFolder();
std::string generateCFUUID();
void handleException(std::exception const& e);
bool isInBackground();

}  // namespace tally_delivery

#include <cstdint>
#include <vector>

namespace tally_delivery {

// The API key's stable hash as the data key prints it.
uint64_t apiKeyHash();
// The persistent cookies map: emptied, or one cookie stored, replaced or removed.
void clearCookies();
void updateIfChangedCookieValue(std::vector<uint8_t> const& value, std::string const& key);
void savePersistentGlobalsToDisk();
bool isInWatchExtension();

}  // namespace tally_delivery

#include <map>
#include <mutex>

// Stand-ins for agent pieces still being built (log level, API key, cookie map, saves); they
// keep the delivery classes testable and are replaced by the agent's own classes.
namespace tally_delivery::stand_in {

void setLogLevel(int level);
void setApiKey(std::string key);
std::map<std::string, std::vector<uint8_t>> cookies();
void setCookies(std::map<std::string, std::vector<uint8_t>> cookies);
int savesOfPersistentGlobals();

}  // namespace tally_delivery::stand_in
