#pragma once
// A fixed table of N records found by a 64-bit key: an index of {key, record} pairs whose first
// size() pairs are the live records sorted by key (searched by bisection), the rest holding the
// free records. Records never move, so pointers to them stay valid while they are live.
#include <algorithm>
#include <array>
#include <cstdint>

namespace Graphics {

template <class Record, uint64_t N>
class SortedTable {
public:
    SortedTable() {
        for (uint64_t i = 0; i < N; ++i) index_[i] = Pair{0, &records_[i]};
    }
    SortedTable(SortedTable const&) = delete;
    SortedTable& operator=(SortedTable const&) = delete;

    static constexpr uint64_t capacity() { return N; }
    uint64_t size() const { return size_; }
    bool full() const { return size_ == N; }

    // The live record of exactly this key, or null.
    Record* find(uint64_t key) const {
        uint64_t const at = lowerBound(key);
        return at < size_ && index_[at].key == key ? index_[at].record : nullptr;
    }

    // Takes a free record for a key that is not live yet; null when the table is full.
    Record* insert(uint64_t key) {
        if (full()) return nullptr;
        uint64_t const at = lowerBound(key);
        Record* record = index_[size_].record;  // the first free one
        *record = Record{};
        std::move_backward(index_.begin() + at, index_.begin() + size_, index_.begin() + size_ + 1);
        index_[at] = Pair{key, record};
        ++size_;
        return record;
    }

    // Frees the record of this key (reset to its defaults); nothing when the key is not live.
    void erase(uint64_t key) {
        uint64_t const at = lowerBound(key);
        if (at >= size_ || index_[at].key != key) return;
        Record* record = index_[at].record;
        *record = Record{};
        std::move(index_.begin() + at + 1, index_.begin() + size_, index_.begin() + at);
        --size_;
        index_[size_] = Pair{0, record};
    }

    // The i-th live record in key order.
    Record& operator[](uint64_t i) { return *index_[i].record; }

private:
    struct Pair {
        uint64_t key;
        Record* record;
    };

    uint64_t lowerBound(uint64_t key) const {
        auto it = std::lower_bound(index_.begin(), index_.begin() + size_, key,
                                   [](Pair const& p, uint64_t k) { return p.key < k; });
        return uint64_t(it - index_.begin());
    }

    uint64_t size_ = 0;
    std::array<Record, N> records_{};
    std::array<Pair, N> index_{};
};

}  // namespace Graphics
