#include "world/JumpPad.h"

#include "level/Fixtures.h"
#include "world/DynamicBody.h"

JumpPad::JumpPad(PristineLevel::JumpPad const& record, CulledVector<DynamicBody, DynamicBody*>& bodies,
                 std::vector<FixtureSignal>* fixtureSignals, b2Body* ground, Player::Player*) {
    b2Body* body = record.body < bodies.size() ? bodies[record.body].getBody() : ground;
    createFixtures(record.shapes, body, fixtureSignals);
}
