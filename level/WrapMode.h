#pragma once
#include <cstdint>

namespace PristineLevel {

// How a running time or value folds into its range. Stored as 16 bits in level files; a value
// outside the three known ones is kept as read (the wrap routines answer 0 for it).
enum WrapMode : std::uint16_t {
    Clamp = 0,
    PingPong = 1,
    Repeat = 2,
};

}  // namespace PristineLevel
