#pragma once
// Writes levels in the exact form the reader takes, for the data tool and the tests.
#include <cereal/archives/binary.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "level/PristineLevel.h"

namespace PristineLevel {

// The level archive alone: every member in declaration order.
std::vector<uint8_t> savePristineLevelArchive(Data const& level);

// A whole .pxl file: the archive's size, then the archive deflated at level 9.
// Throws std::length_error when the archive is larger than the reader accepts.
std::vector<uint8_t> savePristineLevel(Data const& level);

namespace io {

// Saving side of the record layouts over cereal's binary output archive.
class LevelWriter {
public:
    static constexpr bool loading = false;

    explicit LevelWriter(cereal::BinaryOutputArchive& archive) : archive_(archive) {}

    void raw(void const* bytes, size_t size) {
        archive_.saveBinary(bytes, static_cast<std::streamsize>(size));
    }
    void count(uint64_t const& n) { raw(&n, sizeof n); }
    void which(int32_t const& index) { raw(&index, sizeof index); }
    void checkCount(uint64_t, size_t) {}
    void checkEmptyStates(uint64_t) {}

private:
    cereal::BinaryOutputArchive& archive_;
};

}  // namespace io
}  // namespace PristineLevel
