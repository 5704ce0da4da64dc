#pragma once
// The character the player steers: one body of two circles at the current check point, its
// sounds, its death and respawn, its lap tracker and counters, and the movement step that turns
// the input into forces and impulses. The inner circle collides with the level; the outer one,
// tagged 2, detects (the contact handling switches its response off except against bodies
// flagged 2) and measures water, ground and squeeze.
#include <boost/optional.hpp>

#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "audio/Sound.h"
#include "level/GameMode.h"
#include "level/PristineLevel.h"
#include "world/ControlSchemeInputState.h"
#include "world/Face.h"
#include "world/LapTracker.h"
#include "world/Outline.h"
#include "world/Respawner.h"
#include "world/Timer.h"

class b2Body;
class b2Fixture;
class b2Shape;
class Camera;
class CameraZone;
class EventHandler;
class Fluids;
class PhysicsWorld;
class PostProcessingStep;
namespace Audio {
class Context;
}
namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

namespace Player {

inline constexpr float innerRadius = 0.3536f;
inline constexpr float maxInnerRadius = 0.544f;
inline constexpr float outerRadius = 0.5304f;
inline constexpr uint16_t category = 0x0001;
inline constexpr uint16_t innerMask = 0x010E;
inline constexpr uint16_t outerMask = 0x038C;
inline constexpr std::uintptr_t outerCircleTag = 2;
inline constexpr uint32_t holdPlaySignal = 20000002;
inline constexpr uint32_t resumePlaySignal = 20000003;

// The movement step's state that outlives every player (tests put it back to zero).
void resetMovementState();

class Player {
public:
    // A check point whose position is not finite puts the body at the origin, with a log line.
    Player(Graphics::Context* graphics, Audio::Context* audio, PhysicsWorld& physics, CheckPoint* checkPoint,
           b2Body* unused, PostProcessingStep* postProcessing, EventHandler* events,
           std::vector<PristineLevel::PathNode>&& laps, Fluids* fluids, GameMode mode,
           boost::optional<unsigned long> const& levelIndex, float* levelTime,
           TransitToEndOfLevelCallback const& endOfLevel = {});
    Player(Player const&) = delete;
    Player& operator=(Player const&) = delete;

    void update(ControlSchemeInputState input, PhysicsWorld& physics, Camera& camera, float dt);
    void updateRespawn(Camera& camera);
    // Poses the outline and the face for drawing.
    void updatePose();
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader);
    // The movement step.
    void stepMovement(ControlSchemeInputState input, PhysicsWorld& physics, Camera& camera, float dt);
    // A jump's or a pad's change of velocity relative to the carrier.
    void launch(glm::vec2 impulse);
    // Teleports the body (and its previous transform) to a position, stopped.
    void resetTo(glm::vec2 position);
    // The zones whose fixtures pan the camera; their fixtures point at them.
    void setCameraZones(std::vector<CameraZone> const* zones) { cameraZones_ = zones; }

    glm::vec2 getPosition() const;
    b2Body* getBody() const { return body_; }
    b2Fixture* outerFixture() const { return outerFixture_; }
    b2Fixture* innerFixture() const { return innerFixture_; }
    ControlSchemeInputState const& getInput() const { return input_; }
    ControlSchemeInputState const& input() const { return input_; }
    CheckPoint*& getCheckPoint() { return checkPoint_; }
    bool isAlive() const { return respawner_.state() == Respawner::Alive; }
    uint32_t respawnState() const { return respawner_.state(); }
    uint64_t getCoinCount() const { return coins_; }
    uint64_t getDeathCount() const { return deaths_; }
    uint64_t getLapCount() const { return laps_.laps(); }
    float getLapFraction() const { return laps_.fraction(); }
    glm::vec4 const& tint() const { return tint_; }
    bool isGrounded() const { return grounded_; }
    bool isHovering() const { return jumping_; }
    bool controlsReversed() const { return controlsReversed_; }
    bool verticalJump() const { return verticalJump_; }
    bool cameraZonesIgnored() const { return cameraZonesIgnored_; }
    float currentInnerRadius() const;
    float slideGain() const { return slideGain_; }
    Outline const& outline() const { return outline_; }
    Face const& face() const { return face_; }

    void kill();
    void blockMove(float ms) { moveBlock_.start(ms); }
    void blockJump(float ms) { jumpBlock_.start(ms); }
    void blockDive(float ms) { diveBlock_.start(ms); }
    void blockInput(float ms) {
        moveBlock_.start(ms);
        diveBlock_.start(ms);
        jumpBlock_.start(ms);
    }
    void addCoin() { ++coins_; }
    void resetLaps() { laps_.reset(); }
    void setIgnoreCameraZones(bool ignore) { cameraZonesIgnored_ = ignore; }
    void ignoreCameraZones() { cameraZonesIgnored_ = true; }
    void enableVerticalJump() { verticalJump_ = true; }
    void disableVerticalJump() { verticalJump_ = false; }
    void setControlsReversed(bool reversed) { controlsReversed_ = reversed; }
    void applyTimedForce(glm::vec2 force, float durationMs);
    void setFrictionOverride(float friction, float durationMs);

private:
    friend class Respawner;
    void pickOuchSound();
    float submersion(b2Fixture* water, int waterContacts) const;

    Audio::Context* audio_;
    b2Fixture* waterFixture_ = nullptr;
    Fluids* fluids_;
    float gravityMagnitude_;
    std::array<Sound, 2> jumpSounds_;
    uint8_t nextJumpSound_ = 0;
    std::array<Sound, 2> landSounds_;
    uint8_t nextLandSound_ = 0;
    Sound inflateSound_;
    std::optional<Sound> underwaterSound_;
    std::optional<Sound> ouchSound_;
    Sound deathSound_;
    Sound slideLoop_;
    float slideGain_ = 0.0f;
    CheckPoint* checkPoint_;
    Respawner respawner_;
    Face face_;
    Outline outline_;
    LapTracker laps_;
    float jumpPhase_ = 0.0f;
    b2Body* body_ = nullptr;
    b2Shape* innerShape_ = nullptr;
    b2Shape* outerShape_ = nullptr;
    b2Fixture* innerFixture_ = nullptr;
    b2Fixture* outerFixture_ = nullptr;
    Graphics::Context* graphics_;
    PhysicsWorld* physics_;
    glm::vec2 groundNormal_{0.0f};
    glm::vec2 lastGroundNormal_{0.0f};
    glm::vec2 contactNormal_{0.0f};
    uint32_t jumpHeld_ = 0;
    float friction_ = 0.0f;
    bool controlsReversed_ = false;
    struct TimedForce {
        bool active = false;
        float elapsed = 0.0f;
        float duration = 0.0f;
        glm::vec2 force{0.0f};
    } timedForce_;
    Timer moveBlock_;
    Timer jumpBlock_;
    Timer diveBlock_;
    Timer frictionOverrideTimer_;
    Timer groundMemory_;
    float frictionOverride_ = 0.0f;
    bool wasOnTop_ = false;
    bool climbing_ = false;
    float climbAcceleration_ = 0.0f;
    float climbTime_ = 0.0f;
    ControlSchemeInputState input_{0, 0, 0, 0, 1.0f};
    PostProcessingStep* postProcessing_;
    float boostTime_ = 0.0f;
    uint64_t coins_ = 0;
    uint64_t deaths_ = 0;
    bool jumping_ = false;
    bool grounded_ = false;
    glm::vec2 carrierVelocity_{0.0f};
    glm::vec2 previousCarrierVelocity_{0.0f};
    glm::vec2 carrierAcceleration_{0.0f};
    bool verticalJump_ = false;
    float timeSinceJump_ = 0.0f;
    bool cameraZonesIgnored_ = false;
    bool visible_ = true;
    glm::vec4 tint_;
    std::vector<CameraZone> const* cameraZones_ = nullptr;
};

}  // namespace Player
