#pragma once
// Reads the little-endian binary archive of the font and string tables from a stream of known
// size. Counts and lengths are checked against the bytes left before anything is allocated, so a
// damaged count fails as a short read instead of a giant allocation.
#include <cereal/archives/binary.hpp>

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <istream>
#include <string>

namespace Fonts {

class TableReader {
public:
    TableReader(std::istream& in, std::size_t size) : archive_(in), remaining_(size) {}

    template <class T>
    void value(T& v) {
        need(sizeof v);
        archive_(cereal::binary_data(&v, sizeof v));
        remaining_ -= sizeof v;
    }
    void bytes(void* data, std::size_t size) {
        need(size);
        archive_(cereal::binary_data(data, size));
        remaining_ -= size;
    }
    // A u64 element count of a list read element by element: a damaged count simply runs into
    // the end of the input. Reserve no more than `reservable` of them.
    uint64_t count();
    // How many elements of at least minElementSize bytes could still be read.
    std::size_t reservable(uint64_t n, std::size_t minElementSize) const {
        return static_cast<std::size_t>(std::min<uint64_t>(n, remaining_ / minElementSize));
    }
    // A u64 count of a block read in one go: one that cannot fit in the bytes left fails before
    // anything is allocated.
    std::size_t blockCount(std::size_t elementSize);
    void string(std::string& s);
    std::size_t remaining() const { return remaining_; }

private:
    [[noreturn]] void fail(std::size_t wanted) const;
    void need(std::size_t size) const {
        if (size > remaining_) fail(size);
    }

    cereal::BinaryInputArchive archive_;
    std::size_t remaining_;
};

}  // namespace Fonts
