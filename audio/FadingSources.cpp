#include "audio/FadingSources.h"

#include <algorithm>

namespace Audio {

bool FadingSources::add(uint64_t hash, Source* source) {
    if (count_ == capacity) return false;
    entries_[count_++] = {hash, source};
    return true;
}

void FadingSources::removeAt(size_t i) {
    if (i >= count_) return;
    std::move(entries_.begin() + i + 1, entries_.begin() + count_, entries_.begin() + i);
    --count_;
}

}  // namespace Audio
