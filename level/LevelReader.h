#pragma once
// Reads .pxl level files: a 4-byte little-endian inflated size (at most 0xF00000), then a zlib
// stream holding the level archive.
#include <cereal/archives/binary.hpp>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <streambuf>

#include "level/PristineLevel.h"

namespace PristineLevel {

inline constexpr uint32_t maxArchiveSize = 0xF00000;

// Loads the level file `bytes` into `level`. A damaged file loads as far as it reads: members
// before the fault keep what was read, the member being read keeps its elements so far and the
// rest keep their defaults. Nothing is reported; `level` tells what was read.
void loadPristineLevel(Data& level, uint8_t const* bytes, size_t length);

// Reads an inflated level archive into `level`, member by member. Throws cereal::Exception at the
// first fault, leaving `level` filled as far as it was read.
void loadPristineLevelArchive(Data& level, uint8_t const* archive, size_t length);

namespace io {

// Loading side of the record layouts: cereal's binary input archive over a stream buffer, with
// counts checked against the bytes that remain before any list grows. Small values are served
// from a read-ahead window that the archive fills in pieces, so a record of many fields costs
// one stream read instead of one per field.
class LevelReader {
public:
    static constexpr bool loading = true;
    // Stored elements that take no bytes; more than this many in one file is a fault.
    static constexpr uint64_t maxEmptyStates = 1u << 16;

    LevelReader(std::streambuf& buffer, cereal::BinaryInputArchive& archive)
        : buffer_(buffer), archive_(archive) {}

    void raw(void* bytes, size_t size) {
        if (size <= static_cast<size_t>(end_ - next_)) {
            std::memcpy(bytes, next_, size);
            next_ += size;
            return;
        }
        readSlow(static_cast<uint8_t*>(bytes), size);
    }
    void count(uint64_t& n) { raw(&n, sizeof n); }
    void which(int32_t& index) { raw(&index, sizeof index); }
    // Throws when `count` elements of at least `minSize` bytes each can't fit in what remains.
    void checkCount(uint64_t count, size_t minSize);
    void checkEmptyStates(uint64_t count);

private:
    static constexpr size_t windowSize = 512;

    uint64_t remaining() const;
    void readSlow(uint8_t* bytes, size_t size);

    std::streambuf& buffer_;
    cereal::BinaryInputArchive& archive_;
    uint8_t window_[windowSize];
    uint8_t const* next_ = window_;
    uint8_t const* end_ = window_;
    uint64_t emptyStates_ = 0;
};

}  // namespace io
}  // namespace PristineLevel
