#pragma once
#include <cstdint>

// The colour a particle carries; all four channels 0 means it has none.
struct ParticleColor {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    std::uint8_t a = 0;

    bool IsZero() const { return (r | g | b | a) == 0; }
    friend bool operator==(ParticleColor const&, ParticleColor const&) = default;
};
