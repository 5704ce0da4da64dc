#pragma once
// One level as it comes out of its file: every body, shape, joint, object, sound, signal wiring
// and the level-wide settings. Plain values only; the members are in file order.
#include <boost/optional.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include <array>
#include <cfloat>
#include <cstdint>
#include <string>
#include <vector>

#include "level/GameMode.h"
#include "level/JointDefinitions.h"
#include "level/LevelObjects.h"
#include "level/MeshSet.h"
#include "level/PristineLevelBasics.h"
#include "os/SoundDescriptor.h"
#include "os/TextureDescriptor.h"

struct CheckPoint {
    glm::vec2 respawnPosition;
    uint32_t index = 0;        // becomes current only after the one with index - 1
    uint32_t reachSignal = 0;  // raised when reached
    std::array<uint32_t, 6> respawnSignals{};  // raised when the player respawns here

    friend bool operator==(CheckPoint const&, CheckPoint const&) = default;
};

namespace PristineLevel {

// A body (-1: none, the static body) is an index into dynamicBodies throughout.
inline constexpr int32_t staticBodyIndex = -1;
inline constexpr uint32_t staticBodyIndexU = 0xFFFFFFFFu;

// A sprung revolute joint that plays a sound when the angle crosses either threshold.
struct SoundHinge {
    float lowerAngle = 0.0f;
    float upperAngle = 0.0f;
    float referenceAngle = 0.0f;
    float angularDamping = 0.0f;
    float stiffness = 0.0f;
    int32_t body = 0;
    int32_t secondBody = 0;  // -1: the static body
    SoundDescriptor lowSound;
    float lowThreshold = 0.0f;
    SoundDescriptor highSound;
    float highThreshold = 0.0f;

    friend bool operator==(SoundHinge const&, SoundHinge const&) = default;
};

struct PointRecord {
    glm::vec2 point;
    uint32_t value = 0;

    friend bool operator==(PointRecord const&, PointRecord const&) = default;
};

struct JumpPad {
    std::vector<PackedShape> shapes;
    glm::vec2 force;
    float forceDuration = 0.0f;
    float blockDuration = 0.0f;
    uint32_t frictionOffDuration = 0;
    glm::vec2 launchImpulse;
    uint32_t body = 0;  // 0xFFFFFFFF: the fixtures go on the static body
    uint32_t triggerSignal = 0;
    bool blockJump = false;
    bool blockDive = false;

    friend bool operator==(JumpPad const&, JumpPad const&) = default;
};

struct MotorHinge {
    uint32_t body = 0;
    int32_t secondBody = -1;
    float motorSpeed = 0.0f;
    SoundDescriptor sound;

    friend bool operator==(MotorHinge const&, MotorHinge const&) = default;
};

// The camera's scripted path; its cursor runs from `from` to `to` at `rate`.
struct CameraTrack {
    std::vector<glm::vec3> points;
    float from = 0.0f;
    float to = 0.0f;
    float startOffset = 0.0f;
    float rate = 0.0f;  // path units per second
    WrapMode wrapMode = WrapMode::Clamp;
    int32_t repeatCount = 0;  // negative: unbounded
    std::array<uint32_t, 5> values{};

    friend bool operator==(CameraTrack const&, CameraTrack const&) = default;
};

struct LevelInfo {
    float nearPlane = 0.0f;
    float farPlane = 0.0f;
    float viewDistance = 0.0f;
    boost::optional<CameraTrack> cameraTrack;
    std::vector<uint32_t> cameraDrawables;  // draw-list entries that move with the camera

    friend bool operator==(LevelInfo const&, LevelInfo const&) = default;
};

struct Coin {
    uint32_t frameCount = 0;
    uint32_t startFrame = 0;
    uint32_t rows = 0;
    uint32_t columns = 0;
    SoundDescriptor collectSound;
    uint32_t coinDrawable = 0;
    uint32_t ringDrawable = 0;
    uint32_t glintDrawable = 0;
    glm::vec2 frameSize;  // uv size of one sheet frame
    glm::vec2 center;
    uint32_t triggerSignal = 0;
    uint32_t enableSignal = 0;
    uint32_t disableSignal = 0;
    uint32_t frameTime = 0;  // ms per frame
    uint32_t achievement = 0;  // 0: none; else reported instead of counting as a coin

    friend bool operator==(Coin const&, Coin const&) = default;
};

struct Rack {
    uint32_t body = 0;
    uint32_t gear = 0;
    glm::vec2 axis;

    friend bool operator==(Rack const&, Rack const&) = default;
};

struct Gear {
    float radius = 0.0f;
    uint32_t body = 0;

    friend bool operator==(Gear const&, Gear const&) = default;
};

struct RackAndPinion {
    uint32_t startSignal = 0;
    uint32_t returnSignal = 0;
    uint32_t lockSignal = 0;
    float lowerAngle = 0.0f;
    float upperAngle = 0.0f;
    float speed = 0.0f;
    std::vector<Rack> racks;
    std::vector<Gear> gears;
    SoundDescriptor moveSound;
    SoundDescriptor stopSound;

    friend bool operator==(RackAndPinion const&, RackAndPinion const&) = default;
};

// A limited revolute joint whose angle switches signals on and off.
struct JointSwitch {
    float lowerAngle = 0.0f;
    float upperAngle = 0.0f;
    float threshold = 0.0f;
    float angularDamping = 0.0f;
    bool enableMotor = false;
    float motorSpeed = 0.0f;
    float maxMotorTorque = 0.0f;
    float gravityScale = 0.0f;
    uint32_t onSignal = 0;
    uint32_t offSignal = 0;
    uint32_t body = 0;
    int32_t secondBody = -1;
    SoundDescriptor onSound;
    SoundDescriptor offSound;
    bool needsJump = false;

    friend bool operator==(JointSwitch const&, JointSwitch const&) = default;
};

struct ParticleEmitter {
    glm::vec3 boxMin{-FLT_MAX, -FLT_MAX, -FLT_MAX};
    glm::vec3 boxMax{FLT_MAX, FLT_MAX, FLT_MAX};
    uint32_t rows = 0;
    uint32_t columns = 0;
    uint32_t frameCount = 0;
    glm::vec2 frameSize;
    uint32_t particleCount = 0;
    glm::vec3 spawnMin;
    glm::vec3 spawnMax;
    glm::uvec3 spawnIntervals{0u, 0u, 0u};
    glm::vec3 velocityMin;
    glm::vec3 velocityMax;
    float angleMin = 0.0f;  // degrees
    float angleMax = 0.0f;
    float angularVelocityMin = 0.0f;
    float angularVelocityMax = 0.0f;
    float framesPerSecond = 0.0f;
    float scale = 0.0f;
    glm::vec4 color;
    TextureDescriptor sprite;
    uint32_t drawable = 0;

    friend bool operator==(ParticleEmitter const&, ParticleEmitter const&) = default;
};

// Touching its fixtures pans the camera.
struct CameraZone {
    std::vector<PackedShape> shapes;
    glm::vec2 offset;
    float duration = 0.0f;
    bool follow = false;
    bool smooth = false;

    friend bool operator==(CameraZone const&, CameraZone const&) = default;
};

struct DynamicBody {
    BodyDef bodyDef;
    std::vector<PackedShape> shapes;
    std::vector<uint32_t> drawables;
    uint32_t resetSignal = 0;  // restores the initial state
    uint32_t enableSignal = 0;
    uint32_t disableSignal = 0;
    std::vector<uint32_t> animatedTextures;
    std::vector<uint32_t> animatedMeshes;

    friend bool operator==(DynamicBody const&, DynamicBody const&) = default;
};

// A body moved along a keyframed path.
struct AnimatedBody {
    uint32_t body = staticBodyIndexU;
    Keyframes path;
    uint32_t playSignal = 0;
    uint32_t stopSignal = 0;
    uint32_t reverseSignal = 0;
    uint32_t rewindSignal = 0;

    friend bool operator==(AnimatedBody const&, AnimatedBody const&) = default;
};

struct MetaData {
    GameMode mode = GameMode::Normal;
    uint32_t particleMaxCount = 0;  // 0: unlimited
    float particleDensity = 0.0f;
    float particleGravityScale = 0.0f;
    float particleDamping = 0.0f;
    float particleRadius = 0.0f;
    float goldParticleSize = 0.0f;
    bool tutorial = false;
    std::string introSoundtrack;  // base name of the cut-scene music and subtitles
    float introEndTime = 0.0f;    // cut-scene length, ms of music time
    float introCueTime = 0.0f;    // credits start, ms of music time; no credits unless positive

    explicit MetaData(GameMode mode = GameMode::Normal) : mode(mode) {}

    friend bool operator==(MetaData const&, MetaData const&) = default;
};

struct Data {
    std::vector<PackedShape> signalShapes;  // fixtures of the static body, user data: fixtureSignals
    std::vector<CheckPoint> checkPoints;
    std::vector<SoundHinge> soundHinges;
    std::vector<PointRecord> pointRecords;
    std::vector<JumpPad> jumpPads;
    std::vector<MotorHinge> motorHinges;
    LevelInfo levelInfo;
    std::vector<PackedShape> staticShapes;
    std::vector<Coin> coins;
    std::vector<RackAndPinion> racksAndPinions;
    std::vector<JointSwitch> jointSwitches;
    std::vector<ParticleEmitter> particleEmitters;
    std::vector<CameraZone> cameraZones;
    std::vector<DynamicBody> dynamicBodies;
    std::vector<AnimatedBody> animatedBodies;
    std::vector<JointRecord> joints;
    std::vector<DelayedSignal> delayedSignals;
    std::vector<PathNode> progressPath;
    std::vector<AnimatedTexture> animatedTextures;
    MetaData metaData{GameMode::Normal};
    std::vector<JointSprite> jointSprites;
    std::vector<JointSpritePair> jointSpritePairs;
    std::vector<CameraShaker> cameraShakers;
    std::vector<TriggerableSound> triggerableSounds;
    SoundTable soundTable;
    std::vector<FixtureSignal> fixtureSignals;
    std::vector<BodyObserver> bodyObservers;
    MeshSet meshSet;
    std::vector<Fluid> fluids;
    std::vector<ParticleLiquid> particleLiquids;
    // Per animated mesh (which picks one by index), the vertex bytes of its frames back to back.
    std::vector<std::vector<uint8_t>> meshAnimationFrames;
    std::vector<AnimatedMesh> animatedMeshes;
    std::vector<SignalFilter> signalFilters;
    std::vector<DrawableGroup> drawableGroups;

    friend bool operator==(Data const&, Data const&) = default;
};

}  // namespace PristineLevel
