#pragma once
// Records of the level objects the world builds and wires to level signals, the player's
// progress path, the music table and the fixture signals that contact handling reads.
// Signal ids are u32 with 0 meaning none; times are milliseconds of level time.
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "level/PristineLevelBasics.h"
#include "os/SoundDescriptor.h"

// What a level fixture raises on contact. Fixtures point at their first entry; entries chain.
struct FixtureSignal {
    uint32_t beginSignal = 0;
    uint32_t endSignal = 0;
    uint16_t categoryMask = 0;  // matches when it shares a bit with the other fixture's category
    int16_t group = 0;          // >= 1: matches a fixture of this filter group first
    int32_t next = -1;          // next entry for the same fixture, -1: end of the chain
    uint8_t perBody = 0;        // end only when no other contact remains between the two bodies

    friend bool operator==(FixtureSignal const&, FixtureSignal const&) = default;
};

namespace PristineLevel {

struct DelayedSignal {
    uint32_t signal = 0;
    uint32_t target = 0;  // raised `delay` ms after `signal`
    float delay = 0.0f;

    friend bool operator==(DelayedSignal const&, DelayedSignal const&) = default;
};

// One node of the player's progress path; segments are cubic Beziers between nodes.
struct PathNode {
    glm::vec2 point;
    glm::vec2 inHandle;   // relative to point
    glm::vec2 outHandle;  // relative to point
    float distance = 0.0f;  // path length from the first node

    friend bool operator==(PathNode const&, PathNode const&) = default;
};

// A sprite-sheet animation drawn on a draw-list quad.
struct AnimatedTexture {
    uint32_t rows = 0;
    uint32_t columns = 0;
    uint32_t frameCount = 0;
    float framesPerSecond = 0.0f;
    uint32_t startFrame = 0;
    uint32_t drawable = 0;
    uint32_t playSignal = 0;  // 0: plays from the start and loops; else once per signal
    uint32_t showSignal = 0;
    uint32_t showSignal2 = 0;
    uint32_t hideSignal = 0;
    uint32_t hideSignal2 = 0;
    uint8_t visible = 0;
    float fadeInTime = 0.0f;
    float fadeOutTime = 0.0f;

    friend bool operator==(AnimatedTexture const&, AnimatedTexture const&) = default;
};

// A quad stretched between the two anchors of a joint.
struct JointSprite {
    uint32_t drawable = 0;
    int32_t joint = -1;  // index into the level's joints
    glm::vec2 scale;
    float vStart = 0.0f;

    friend bool operator==(JointSprite const&, JointSprite const&) = default;
};

struct JointSpritePair {
    uint32_t drawableA = 0;
    uint32_t drawableB = 0;
    int32_t joint = -1;
    glm::vec2 scale;
    float vStart = 0.0f;

    friend bool operator==(JointSpritePair const&, JointSpritePair const&) = default;
};

struct CameraShaker {
    glm::vec2 position;
    float secondaryFactor = 0.0f;
    float amplitude = 0.0f;
    float innerRadius = 0.0f;
    float falloff = 0.0f;
    float duration = 0.0f;
    float fadeInTime = 0.0f;
    float fadeOutTime = 0.0f;
    uint32_t startSignal = 0;
    uint32_t stopSignal = 0;

    friend bool operator==(CameraShaker const&, CameraShaker const&) = default;
};

struct TriggerableSound {
    uint32_t playSignal = 0;
    uint32_t stopSignal = 0;
    SoundDescriptor sound;
    int32_t body = 0;  // negative: not attached to a body
    uint32_t enableSignal = 0;
    uint32_t disableSignal = 0;
    float fadeInTime = 0.0f;
    float fadeOutTime = 0.0f;

    friend bool operator==(TriggerableSound const&, TriggerableSound const&) = default;
};

struct MusicNode {
    glm::vec2 point;
    int32_t track = 0;  // index into musicTracks, negative: silence
    float volume = 0.0f;
    float fadeInRate = 0.0f;  // volume per second
    float fadeOutRate = 0.0f;

    friend bool operator==(MusicNode const&, MusicNode const&) = default;
};

struct SoundTable {
    std::vector<std::string> musicTracks;
    std::vector<SoundDescriptor> sounds;
    std::vector<MusicNode> musicPath;

    friend bool operator==(SoundTable const&, SoundTable const&) = default;
};

// Raises signals when a body is hit, moves, spins or slides past its thresholds.
struct BodyObserver {
    int32_t body = -1;
    float impulseThreshold = 0.0f;
    uint32_t impulseSignal = 0;
    float speedThreshold = 0.0f;
    uint32_t speedUpSignal = 0;
    uint32_t speedDownSignal = 0;
    uint8_t useDirection = 0;
    glm::vec2 direction;
    float spinThreshold = 0.0f;
    uint32_t spinSignal = 0;
    uint32_t spinStopSignal = 0;
    uint8_t spinNeedsContact = 1;
    float slideThreshold = 0.0f;
    uint32_t slideSignal = 0;
    uint32_t slideStopSignal = 0;
    uint32_t enableSignal = 0;
    uint32_t disableSignal = 0;

    friend bool operator==(BodyObserver const&, BodyObserver const&) = default;
};

// A water volume: sensor fixtures with buoyancy and drag.
struct Fluid {
    std::vector<PackedShape> shapes;
    float dragCoefficient = 0.0f;
    float liftCoefficient = 0.0f;
    float maxDrag = 0.0f;
    float maxLift = 0.0f;
    float buoyancy = 0.0f;
    glm::vec2 flow;
    uint8_t silent = 0;  // no splash sounds
    uint32_t enableSignal = 0;
    uint32_t disableSignal = 0;

    friend bool operator==(Fluid const&, Fluid const&) = default;
};

struct ParticleColor {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 0;

    friend bool operator==(ParticleColor const&, ParticleColor const&) = default;
};

// A particle liquid: the region of its first shape filled with one particle group.
struct ParticleLiquid {
    std::vector<PackedShape> shapes;
    uint32_t flags = 0;  // particle flags
    uint32_t groupFlags = 0;
    glm::vec2 position;
    float angle = 0.0f;
    glm::vec2 linearVelocity;
    float angularVelocity = 0.0f;
    ParticleColor color;
    float strength = 1.0f;
    uint32_t spawnSignal = 0;    // creates the group when none exists
    uint32_t respawnSignal = 0;  // destroys and creates it again
    uint32_t removeSignal = 0;

    friend bool operator==(ParticleLiquid const&, ParticleLiquid const&) = default;
};

// A mesh animated through vertex frames and per-frame opacity.
struct AnimatedMesh {
    uint32_t frames = 0;  // index into the level's meshAnimationFrames
    std::vector<float> opacityKeys;
    uint32_t frameStride = 0;  // bytes per frame: the frame count is the block's size / this
    uint32_t drawable = 0;
    float from = 0.0f;
    float to = 0.0f;
    float startOffset = 0.0f;
    float rate = 0.0f;  // units per second
    int32_t wrapMode = 0;
    int32_t repeatCount = 0;  // negative: endless
    uint32_t playSignal = 0;
    uint32_t reverseSignal = 0;
    uint32_t pauseSignal = 0;
    uint32_t finishSignal = 0;
    uint32_t rewindSignal = 0;
    uint8_t hideWhenFinished = 0;
    uint8_t interpolation = 0;

    friend bool operator==(AnimatedMesh const&, AnimatedMesh const&) = default;
};

struct SignalFilter {
    uint32_t input = 0;
    uint32_t output = 0;
    uint32_t reset = 0;
    int32_t maxCount = 0;  // negative: unlimited
    float interval = 0.0f;

    friend bool operator==(SignalFilter const&, SignalFilter const&) = default;
};

// Drawables turned about a pivot to face the camera.
struct DrawableGroup {
    std::vector<uint32_t> drawables;
    glm::vec3 pivot;

    friend bool operator==(DrawableGroup const&, DrawableGroup const&) = default;
};

}  // namespace PristineLevel
