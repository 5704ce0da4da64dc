#pragma once
// The cloud key-value store that holds the roaming copy of the save record. On this platform the
// store is a folder (see platform/KeyValueStore.h); iCloud is "available" while that folder exists
// and is writable, so a player opts in by creating it or pointing ZELV_CLOUD_DIR at a synced folder.
// Every call is serialised by one recursive mutex.
#include <cstdint>
#include <string>
#include <vector>

#include <boost/optional.hpp>

// ZELV_CLOUD_DIR when set, else $XDG_DATA_HOME/zelv/cloud/, else ~/.local/share/zelv/cloud/.
std::string cloudStorePath();

// The store folder exists and is writable.
bool iCloudAvailable();

// Sets up the store and its change observers once; returns iCloudAvailable().
bool initICloud();

// None when unavailable or not set up; empty when the key "roamingData" holds nothing.
boost::optional<std::vector<uint8_t>> loadRoamingData();

// Stores the blob under "roamingData"; false when unavailable or not set up.
bool saveRoamingData(std::vector<uint8_t> const& blob);

// Stores bytes under "roamingData" + suffix, beside the copy (a damaged or newer-version copy
// kept before it is replaced); false when unavailable, not set up or the write failed.
bool keepRoamingDataAside(std::string const& suffix, std::vector<uint8_t> const& bytes);

// Drops the store and stops its watcher (process teardown, tests); initICloud sets it up again.
void shutdownICloud();
