#include "audio/SoundBank.h"

#include <algorithm>

namespace Audio {

SoundBank::SoundBank() {
    for (size_t i = 0; i < capacity; ++i) index_[i] = {0, &entries_[i]};
}

size_t SoundBank::lowerBound(uint64_t hash) const {
    auto const begin = index_.begin();
    auto it = std::lower_bound(begin, begin + count_, hash,
                               [](auto const& entry, uint64_t h) { return entry.first < h; });
    return size_t(it - begin);
}

BufferEntry* SoundBank::find(uint64_t hash) {
    size_t const i = lowerBound(hash);
    return i < count_ && index_[i].first == hash ? index_[i].second : nullptr;
}

BufferEntry* SoundBank::insert(uint64_t hash, uint32_t buffer) {
    if (full()) return nullptr;
    size_t const at = lowerBound(hash);
    // The last index slot always holds a free entry: rotate it down to the insertion point.
    std::rotate(index_.begin() + at, index_.end() - 1, index_.end());
    index_[at].first = hash;
    ++count_;
    BufferEntry* entry = index_[at].second;
    *entry = BufferEntry{1, buffer};
    return entry;
}

void SoundBank::remove(uint64_t hash) {
    size_t const i = lowerBound(hash);
    if (i >= count_ || index_[i].first != hash) return;
    *index_[i].second = BufferEntry{};
    index_[i].first = 0;
    std::rotate(index_.begin() + i, index_.begin() + i + 1, index_.end());
    --count_;
}

}  // namespace Audio
