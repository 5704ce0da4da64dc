#include "save/RoamingDataKeyValueStore.h"

#include <cstdio>

#include "os/services/ICloud.h"
#include "platform/base/ReportOnce.h"
#include "save/RoamingDataFile.h"

namespace {

std::mutex& keyValueMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

RoamingDataKeyValueStore::RoamingDataKeyValueStore(boost::optional<CloudSyncError>& error)
    : data(false), lock_(keyValueMutex()), error_(error) {
    boost::optional<std::vector<uint8_t>> blob = loadRoamingData();
    if (!blob) {
        error_ = CloudSyncError::StoreUnavailable;
        return;
    }
    error_ = boost::none;
    if (!blob->empty() && !data.load(blob->data(), blob->size())) {
        if (platform::ReportOnce::first("cloud " + RoamingDataFile::damageKey(*blob)))
            std::fprintf(stderr, "save: the cloud copy is damaged; loaded as far as it reads\n");
        asideBytes_ = std::move(*blob);
    } else if (data.fromNewerVersion()) {
        asideSuffix_ = ".newer";
        asideBytes_ = std::move(*blob);
    }
}

RoamingDataKeyValueStore::~RoamingDataKeyValueStore() {
    if (!error_ && (data.commit() || data.needsSave())) {
        // Like the local file, the cloud copy is kept beside itself before it is replaced; without
        // that the write waits for a later try.
        if (!asideBytes_.empty() && !keepRoamingDataAside(asideSuffix_, asideBytes_)) {
            std::fprintf(stderr, "save: cannot keep the cloud copy aside; it is not replaced\n");
            error_ = CloudSyncError::StoreUnavailable;
            lock_.unlock();
            return;
        }
        if (!asideBytes_.empty()) {
            std::fprintf(stderr, "save: the cloud copy is kept as roamingData%s beside it\n", asideSuffix_);
        }
        try {
            // A write that did not reach the store fails the sync job, so it is tried again.
            if (!saveRoamingData(data.save())) {
                std::fprintf(stderr, "save: the cloud copy could not be written\n");
                error_ = CloudSyncError::StoreUnavailable;
            }
        } catch (std::exception const& e) {
            std::fprintf(stderr, "save: cannot encode the cloud copy: %s\n", e.what());
            error_ = CloudSyncError::StoreUnavailable;
        }
    }
    lock_.unlock();
}
