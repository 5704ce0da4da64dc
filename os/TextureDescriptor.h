#pragma once
// What to load for a texture: its path in the data archives, how to sample it, and load flags.
#include <cstdint>
#include <string>

// Filters: 0 nearest, 1 linear. Wraps: 0 clamp-to-edge, 1 repeat, 2 mirrored repeat.
struct TextureOptions {
    uint8_t minFilter = 0;
    uint8_t magFilter = 0;
    uint8_t wrapS = 0;
    uint8_t wrapT = 0;

    constexpr TextureOptions() = default;
    constexpr TextureOptions(uint8_t minFilter, uint8_t magFilter, uint8_t wrapS, uint8_t wrapT)
        : minFilter(minFilter), magFilter(magFilter), wrapS(wrapS), wrapT(wrapT) {}

    friend constexpr bool operator==(TextureOptions const&, TextureOptions const&) = default;
};

struct TextureDescriptor {
    std::string path;
    TextureOptions options;
    uint8_t flags = 0;  // load flags; the texture loader defines the bits

    TextureDescriptor() = default;
    TextureDescriptor(std::string path, TextureOptions options, uint8_t flags)
        : path(std::move(path)), options(options), flags(flags) {}

    friend bool operator==(TextureDescriptor const&, TextureDescriptor const&) = default;
};
