#pragma once
#include <cstdint>

// Why a cloud sync attempt failed.
enum class CloudSyncError : uint8_t {
    StoreUnavailable = 1,  // no cloud store (signed out, not set up) or it could not be written
};
