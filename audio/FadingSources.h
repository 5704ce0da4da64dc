#pragma once
// Sources whose handles are gone, fading to silence; each entry holds a reference on its buffer
// until the source stops.
#include <array>
#include <cstddef>
#include <cstdint>

namespace Audio {

class Source;

class FadingSources {
public:
    static constexpr size_t capacity = 128;

    struct Entry {
        uint64_t hash = 0;
        Source* source = nullptr;
    };

    explicit FadingSources(float fadeRate) : fadeRate_(fadeRate) {}

    // False when the list is full.
    bool add(uint64_t hash, Source* source);
    void removeAt(size_t i);

    size_t count() const { return count_; }
    Entry const& at(size_t i) const { return entries_[i]; }
    float fadeRate() const { return fadeRate_; }

private:
    size_t count_ = 0;
    std::array<Entry, capacity> entries_;
    float fadeRate_;
};

}  // namespace Audio
