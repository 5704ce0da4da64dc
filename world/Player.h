#pragma once
// The player character: a body of two circles at the current check point. The inner circle
// collides with the level; the outer one, tagged 2, only detects (the contact handling switches
// its response off except against bodies flagged 2).
#include <glm/vec2.hpp>

#include <cstdint>
#include <vector>

#include "level/PristineLevel.h"
#include "world/ControlSchemeInputState.h"

class b2Body;
class b2Fixture;
class Camera;
class EventHandler;
class PhysicsWorld;

namespace Player {

inline constexpr float innerRadius = 0.3536f;
inline constexpr float outerRadius = 0.5304f;
inline constexpr uint16_t category = 0x0001;
inline constexpr uint16_t innerMask = 0x010E;
inline constexpr uint16_t outerMask = 0x038C;
inline constexpr std::uintptr_t outerCircleTag = 2;

class Player {
public:
    Player(PhysicsWorld& physics, CheckPoint* checkPoint, EventHandler* events,
           std::vector<PristineLevel::PathNode>&& laps);

    void update(ControlSchemeInputState input, PhysicsWorld& physics, Camera& camera, float dt);
    void updateRespawn(Camera& camera);
    void updatePose() {}

    CheckPoint*& getCheckPoint() { return checkPoint_; }
    glm::vec2 getPosition() const;
    b2Body* getBody() const { return body_; }
    b2Fixture* outerFixture() const { return outer_; }
    b2Fixture* innerFixture() const { return inner_; }
    bool isAlive() const { return alive_; }
    // Ends the life: pending delayed signals are dropped from the next update on.
    void kill() { alive_ = false; }
    // Back at the current check point, raising its respawn signals.
    void respawn();

    void setControlsReversed(bool reversed) { controlsReversed_ = reversed; }
    bool controlsReversed() const { return controlsReversed_; }
    void enableVerticalJump() { verticalJump_ = true; }
    void disableVerticalJump() { verticalJump_ = false; }
    bool verticalJump() const { return verticalJump_; }
    ControlSchemeInputState const& input() const { return input_; }
    ControlSchemeInputState const& getInput() const { return input_; }
    // The closing shot: camera zones no longer pan the view.
    void ignoreCameraZones() { cameraZonesIgnored_ = true; }
    bool cameraZonesIgnored() const { return cameraZonesIgnored_; }

private:
    PhysicsWorld* physics_;
    EventHandler* events_;
    CheckPoint* checkPoint_;
    std::vector<PristineLevel::PathNode> laps_;
    b2Body* body_ = nullptr;
    b2Fixture* inner_ = nullptr;
    b2Fixture* outer_ = nullptr;
    ControlSchemeInputState input_;
    bool alive_ = true;
    bool controlsReversed_ = false;
    bool verticalJump_ = false;
    bool cameraZonesIgnored_ = false;
};

}  // namespace Player
