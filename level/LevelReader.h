#pragma once
// Reads .pxl level files: a 4-byte little-endian inflated size (at most 0xF00000), then a zlib
// stream holding the level archive.
#include <cereal/archives/binary.hpp>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "level/PristineLevel.h"

namespace PristineLevel {

inline constexpr uint32_t maxArchiveSize = 0xF00000;

// Loads the level file `bytes` into `level`. A damaged file loads as far as it reads: members
// before the fault keep what was read, the member being read keeps its elements so far and the
// rest keep their defaults. Returns whether the whole file was read; callers may ignore it.
bool loadPristineLevel(Data& level, uint8_t const* bytes, size_t length);

// Reads an inflated level archive into `level`, member by member. Throws cereal::Exception at the
// first fault, leaving `level` filled as far as it was read.
void loadPristineLevelArchive(Data& level, uint8_t const* archive, size_t length);

namespace io {

// Loading side of the record layouts: reads straight from the inflated archive in memory, with
// counts checked against the bytes that remain before any list grows.
class LevelReader {
public:
    static constexpr bool loading = true;
    // Stored elements that take no bytes; more than this many in one file is a fault.
    static constexpr uint64_t maxEmptyStates = 1u << 16;

    LevelReader(uint8_t const* archive, size_t length) : next_(archive), end_(archive + length) {}

    // Inlined at every field, so that the copy of a fixed-size value becomes a plain load.
    [[gnu::always_inline]] void raw(void* bytes, size_t size) {
        if (size <= static_cast<size_t>(end_ - next_)) [[likely]] {
            std::memcpy(bytes, next_, size);
            next_ += size;
            return;
        }
        readPastEnd(static_cast<uint8_t*>(bytes), size);
    }
    [[gnu::always_inline]] void count(uint64_t& n) { raw(&n, sizeof n); }
    void which(int32_t& index) { raw(&index, sizeof index); }
    // A string's bytes, copied once (no zero-fill first).
    void text(std::string& s, size_t length) {
        checkCount(length, 1);
        s = std::string(reinterpret_cast<char const*>(next_), length);
        next_ += length;
    }
    // A byte list, copied once (no zero-fill first).
    void bytes(std::vector<uint8_t>& items, size_t count) {
        checkCount(count, 1);
        items.assign(next_, next_ + count);
        next_ += count;
    }
    // Throws when `count` elements of at least `minSize` bytes each can't fit in what remains.
    void checkCount(uint64_t count, size_t minSize) {
        if (minSize != 0 && count > remaining() / minSize) {
            countTooLarge(count, minSize);
        }
    }
    void checkEmptyStates(uint64_t count);
    uint64_t remaining() const { return static_cast<uint64_t>(end_ - next_); }

private:
    // Delivers the bytes that are there, as a short stream read does, then throws.
    [[noreturn]] void readPastEnd(uint8_t* bytes, size_t size);
    [[noreturn]] void countTooLarge(uint64_t count, size_t minSize) const;

    uint8_t const* next_;
    uint8_t const* end_;
    uint64_t emptyStates_ = 0;
};

}  // namespace io
}  // namespace PristineLevel
