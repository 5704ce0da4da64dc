#pragma once
// Fills level records with non-default values through the record layouts, so a test covers every
// field without naming each one: lists get `listSize` elements, variants take their alternatives
// in turn, optionals are present, bytes and floats are non-zero.
#include <cstdint>
#include <cstring>

#include "level/LevelFields.h"

namespace level_testing {

class LevelFiller {
public:
    static constexpr bool loading = true;

    explicit LevelFiller(uint32_t seed, uint64_t listSize = 2) : state_(seed | 1u), listSize_(listSize) {}

    void raw(void* bytes, size_t size) {
        auto* out = static_cast<uint8_t*>(bytes);
        if (size % 4 == 0) {
            // Floats that survive a round trip whether a field is a float or an integer.
            for (size_t i = 0; i < size; i += 4) {
                float const value = static_cast<float>(next() % 4000 + 1) / 8.0f;
                std::memcpy(out + i, &value, 4);
            }
        } else {
            for (size_t i = 0; i < size; ++i) {
                out[i] = static_cast<uint8_t>(1 + next() % 3);
            }
        }
    }
    void count(uint64_t& n) { n = listSize_; }
    void which(int32_t& index) { index = static_cast<int32_t>(nextWhich_++ % PristineLevel::jointKindCount); }
    void checkCount(uint64_t, size_t) {}
    void checkEmptyStates(uint64_t) {}

private:
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }

    uint32_t state_;
    uint64_t listSize_;
    uint32_t nextWhich_ = 0;
};

// A level with every member filled and at least one joint of every kind.
inline PristineLevel::Data filledLevel(uint32_t seed = 7) {
    PristineLevel::Data level;
    LevelFiller filler(seed);
    PristineLevel::io::field(filler, level);
    for (int kind = 0; kind < PristineLevel::jointKindCount; ++kind) {
        PristineLevel::JointRecord joint;
        PristineLevel::io::field(filler, joint);
        level.joints.push_back(joint);
    }
    return level;
}

}  // namespace level_testing
