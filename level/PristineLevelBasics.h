#pragma once
// Small value types shared by the level records: packed shapes, wrap modes, keyframed paths and
// the body definition as the level file stores it.
#include <glm/vec2.hpp>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// One collision shape with its fixture settings, packed as the level file stores it.
using PackedShape = std::vector<uint8_t>;

namespace PristineLevel {

// Stored in 16 bits; other values are kept and make the wrap routines answer 0.
enum class WrapMode : uint16_t {
    Clamp = 0,
    PingPong = 1,
    Repeat = 2,
};

struct Keyframe {
    float time = 0.0f;  // seconds from the start of the track
    glm::vec2 point;
    glm::vec2 handleIn;   // offset from point toward the previous keyframe
    glm::vec2 handleOut;  // offset from point toward the next keyframe
    float value = 0.0f;   // scalar keyed alongside (the animated bodies' angle)

    friend bool operator==(Keyframe const&, Keyframe const&) = default;
};

struct KeyframeSample {
    glm::vec2 point;
    float value = 0.0f;
};

struct Keyframes {
    std::vector<Keyframe> keyframes;
    WrapMode wrapMode = WrapMode::PingPong;

    Keyframes() = default;
    Keyframes(std::vector<Keyframe> keyframes, WrapMode wrapMode)
        : keyframes(std::move(keyframes)), wrapMode(wrapMode) {}

    // The point on the path and the keyed scalar at time t (seconds), the time folded by the wrap
    // mode. Nothing for a track without keyframes, so that whatever it drives stays where it is.
    std::optional<KeyframeSample> evaluate(float t) const;

    friend bool operator==(Keyframes const&, Keyframes const&) = default;
};

// A rigid-body definition with the fields and defaults of the physics engine the levels were
// authored for; the physics layer maps it onto the installed engine.
struct BodyDef {
    static constexpr int32_t staticBody = 0;
    static constexpr int32_t kinematicBody = 1;
    static constexpr int32_t dynamicBody = 2;

    int32_t type = staticBody;
    glm::vec2 position;
    float angle = 0.0f;
    glm::vec2 linearVelocity;
    float angularVelocity = 0.0f;
    float linearDamping = 0.0f;
    float angularDamping = 0.0f;
    bool allowSleep = true;
    bool awake = true;
    bool fixedRotation = false;
    bool bullet = false;
    bool active = true;
    int32_t userData = 0;  // body flags for the player's movement
    float gravityScale = 1.0f;

    friend bool operator==(BodyDef const&, BodyDef const&) = default;
};

}  // namespace PristineLevel
