#pragma once
// Lets the tests read and set what the record keeps to itself, and look inside blobs.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "save/RoamingData.h"

struct RoamingDataTestAccess {
    static void setTimestamp(RoamingData& r, char const* text) {
        std::memset(r.timestamp_, 0, sizeof r.timestamp_);
        std::memcpy(r.timestamp_, text, std::min(std::strlen(text), sizeof r.timestamp_ - 1));
    }
    static bool entryChanged(RoamingData::LevelEntry const& e) { return e.changed_ != 0; }
    // Appends count entries after the last one, all at once.
    static void addEntries(RoamingData& r, uint32_t count) {
        uint32_t next = r.levels_.empty() ? 0 : r.levels_.back().levelId_ + 1;
        for (uint32_t i = 0; i < count; ++i) {
            r.levels_.emplace_back(next + i);
        }
        r.changed_ = 1;
    }
    static void setEntry(RoamingData& r, uint32_t level, uint8_t goals, uint64_t best) {
        RoamingData::LevelEntry& e = r.levelEntry(level);
        e.goalFlags_ = goals;
        e.best_ = best;
    }
};

// The archive inside a blob.
inline std::vector<uint8_t> inflateBlob(std::vector<uint8_t> const& blob) {
    uint32_t length = 0;
    std::memcpy(&length, blob.data(), 4);
    std::vector<uint8_t> out(length);
    uLongf n = length;
    if (uncompress(out.data(), &n, blob.data() + 4, blob.size() - 4) != Z_OK || n != length) {
        return {};
    }
    return out;
}

// A blob around the given archive bytes.
inline std::vector<uint8_t> wrapArchive(std::vector<uint8_t> const& archive) {
    uLongf n = compressBound(archive.size());
    std::vector<uint8_t> blob(n + 4);
    compress2(blob.data() + 4, &n, archive.data(), archive.size(), 9);
    uint32_t length = static_cast<uint32_t>(archive.size());
    std::memcpy(blob.data(), &length, 4);
    blob.resize(n + 4);
    return blob;
}

// The blob with the record's class version changed (as a later version of the game writes it).
inline std::vector<uint8_t> withClassVersion(std::vector<uint8_t> const& blob, uint32_t version) {
    std::vector<uint8_t> archive = inflateBlob(blob);
    // After the 36-byte archive header and the tracking byte.
    size_t const at = 37;
    if (archive.size() < at + 4) {
        return {};
    }
    std::memcpy(archive.data() + at, &version, 4);
    return wrapArchive(archive);
}
