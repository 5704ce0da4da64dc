#pragma once
// The decoded sounds by name hash: fixed slots, and an index kept sorted by hash for binary
// search, whose tail holds the free slots.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "audio/BufferEntry.h"

namespace Audio {

class SoundBank {
public:
    static constexpr size_t capacity = 128;

    SoundBank();

    BufferEntry* find(uint64_t hash);
    // A fresh entry {refCount 1, buffer} for a hash not yet present; null when the bank is full.
    BufferEntry* insert(uint64_t hash, uint32_t buffer);
    // Gives the entry of the hash back to the free slots.
    void remove(uint64_t hash);

    size_t count() const { return count_; }
    bool full() const { return count_ == capacity; }
    // The used entries in ascending hash order.
    std::pair<uint64_t, BufferEntry*> const& at(size_t i) const { return index_[i]; }

private:
    size_t lowerBound(uint64_t hash) const;

    size_t count_ = 0;
    std::array<BufferEntry, capacity> entries_;
    std::array<std::pair<uint64_t, BufferEntry*>, capacity> index_;
};

}  // namespace Audio
