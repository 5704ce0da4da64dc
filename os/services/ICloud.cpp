#include "os/services/ICloud.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/KeyValueStore.h"
#include "platform/base/Directories.h"

namespace {

char const kRoamingDataKey[] = "roamingData";

struct CloudState {
    std::recursive_mutex mutex;
    std::unique_ptr<platform::KeyValueStore> store;
};

CloudState& cloud() {
    static CloudState state;
    return state;
}

// Another install changed the store. The next sync job reads it; nothing to do here.
void storeChangedExternally(platform::KeyValueStore::ChangeReason reason, std::vector<std::string> const&) {
    if (reason == platform::KeyValueStore::ChangeReason::AccountChange) {
        std::fprintf(stderr, "iCloud: the store folder went away; cloud sync is unavailable\n");
    }
}

}  // namespace

std::string cloudStorePath() {
    if (char const* dir = std::getenv("ZELV_CLOUD_DIR"); dir && *dir) {
        std::string path = dir;
        return path.back() == '/' ? path : path + '/';
    }
    // The default documents folder follows XDG_DATA_HOME without the test override.
    if (char const* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
        std::string path = data;
        return (path.back() == '/' ? path : path + '/') + "zelv/cloud/";
    }
    std::string home = platform::Directories::home().string();
    return (home.back() == '/' ? home : home + '/') + ".local/share/zelv/cloud/";
}

bool iCloudAvailable() {
    std::lock_guard<std::recursive_mutex> lock(cloud().mutex);
    return platform::KeyValueStore(cloudStorePath()).available();
}

bool initICloud() {
    CloudState& c = cloud();
    std::lock_guard<std::recursive_mutex> lock(c.mutex);
    if (!iCloudAvailable()) {
        return false;
    }
    if (!c.store) {
        c.store = std::make_unique<platform::KeyValueStore>(cloudStorePath());
        c.store->setChangeHandler(storeChangedExternally);
    }
    return true;
}

boost::optional<std::vector<uint8_t>> loadRoamingData() {
    CloudState& c = cloud();
    std::lock_guard<std::recursive_mutex> lock(c.mutex);
    if (!iCloudAvailable() || !c.store) {
        return boost::none;
    }
    c.store->synchronize();
    auto bytes = c.store->data(kRoamingDataKey);
    if (!bytes) {
        return boost::none;
    }
    return std::move(*bytes);
}

bool saveRoamingData(std::vector<uint8_t> const& blob) {
    CloudState& c = cloud();
    std::lock_guard<std::recursive_mutex> lock(c.mutex);
    if (!iCloudAvailable() || !c.store) {
        return false;
    }
    bool stored = c.store->setData(kRoamingDataKey, blob);
    c.store->synchronize();
    return stored;
}

bool keepRoamingDataAside(std::string const& suffix, std::vector<uint8_t> const& bytes) {
    CloudState& c = cloud();
    std::lock_guard<std::recursive_mutex> lock(c.mutex);
    if (!iCloudAvailable() || !c.store) {
        return false;
    }
    return c.store->setData(kRoamingDataKey + suffix, bytes);
}

void shutdownICloud() {
    CloudState& c = cloud();
    std::lock_guard<std::recursive_mutex> lock(c.mutex);
    c.store.reset();
}
