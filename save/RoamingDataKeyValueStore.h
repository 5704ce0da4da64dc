#pragma once
// Scoped access to the cloud copy of the save record: opening locks the process-wide key-value
// mutex and loads the store's blob into `data`; closing writes it back when it changed (or a
// merge asked for it) and unlocks. `error` tells whether the store could be reached; while it is
// set nothing is written.
#include <mutex>
#include <vector>

#include <boost/optional.hpp>

#include "save/CloudSyncError.h"
#include "save/RoamingData.h"

class RoamingDataKeyValueStore {
public:
    explicit RoamingDataKeyValueStore(boost::optional<CloudSyncError>& error);
    ~RoamingDataKeyValueStore();
    RoamingDataKeyValueStore(RoamingDataKeyValueStore const&) = delete;
    RoamingDataKeyValueStore& operator=(RoamingDataKeyValueStore const&) = delete;

    RoamingData data;

private:
    std::unique_lock<std::mutex> lock_;
    boost::optional<CloudSyncError>& error_;
    // The stored copy's bytes, when they must be kept aside (under this suffix) before a write.
    std::vector<uint8_t> asideBytes_;
    char const* asideSuffix_ = ".bad";
};
