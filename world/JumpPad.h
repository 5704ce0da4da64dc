#pragma once
// A pad whose signal (raised when the player touches its fixtures) pushes the player: blocked
// controls, a timed force, no friction and a launch, all turned with the pad's body. It fires at
// most once per 500 ms.
#include <glm/vec2.hpp>

#include <cstdint>
#include <vector>

#include "level/PristineLevel.h"
#include "world/CulledVector.h"

class b2Body;
class DynamicBody;
namespace Player {
class Player;
}

class JumpPad {
public:
    inline static constexpr float rearmMs = 500.0f;

    // The fixtures go on the record's body, or on the ground body for the stored "none"; a body
    // index past the level's bodies builds a pad that does nothing (logged).
    JumpPad(PristineLevel::JumpPad const& record, CulledVector<DynamicBody, DynamicBody*>& bodies,
            std::vector<FixtureSignal>* fixtureSignals, b2Body* ground, Player::Player* player);

    void trigger();
    void update(float dt);
    bool isTriggered() const { return triggered_; }

private:
    b2Body* body_ = nullptr;
    Player::Player* player_;
    bool triggered_ = false;
    float elapsed_ = 0.0f;
    glm::vec2 force_;
    float forceDuration_;
    float blockDuration_;
    float frictionOffDuration_;
    glm::vec2 launchImpulse_;
    bool blockJump_;
    bool blockDive_;
};
