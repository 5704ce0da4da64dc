#pragma once
// What to play for a sound effect: its path in the data archives and how to play it.
#include <glm/vec3.hpp>

#include <cstdint>
#include <string>

struct SoundParams {
    static constexpr uint8_t positional = 0x1;  // placed in the world, else listener-relative
    static constexpr uint8_t looping = 0x2;

    glm::vec3 position{0.0f, 0.0f, 0.0f};
    uint8_t flags = 0;
    float gain = 1.0f;
    uint8_t category = 0;  // volume category, 0 or 1
    float referenceFactor = 1.25f;  // times the context's reference distance
    float maxFactor = 2.0f;         // times the context's maximum distance

    SoundParams() = default;
    SoundParams(glm::vec3 position, uint8_t flags, float gain, uint8_t category, float referenceFactor,
                float maxFactor)
        : position(position),
          flags(flags),
          gain(gain),
          category(category),
          referenceFactor(referenceFactor),
          maxFactor(maxFactor) {}

    bool isLooping() const { return (flags & looping) != 0; }
    bool isListenerRelative() const { return (flags & positional) == 0; }

    friend bool operator==(SoundParams const&, SoundParams const&) = default;
};

struct SoundDescriptor {
    std::string path;  // empty: no sound
    SoundParams params;

    SoundDescriptor() = default;
    SoundDescriptor(std::string path, SoundParams params) : path(std::move(path)), params(params) {}

    friend bool operator==(SoundDescriptor const&, SoundDescriptor const&) = default;
};
