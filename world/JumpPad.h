#pragma once
// A pad whose fixtures launch the player when touched.
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
    // The fixtures go on the record's body, or on the ground body when it names none (or one
    // that does not exist).
    JumpPad(PristineLevel::JumpPad const& record, CulledVector<DynamicBody, DynamicBody*>& bodies,
            std::vector<FixtureSignal>* fixtureSignals, b2Body* ground, Player::Player* player);

    void trigger() { ++triggers_; }
    void update(float) {}
    int triggers() const { return triggers_; }

private:
    int triggers_ = 0;
};
