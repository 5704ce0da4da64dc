#include <box2d/b2_body.h>
#include <box2d/b2_fixture.h>
#include <gtest/gtest.h>

#include "world/tests/WorldRig.h"

using world_test::flatLevel;
using world_test::Heard;
using world_test::Rig;

namespace {

// A body of two boxes one above the other, falling through a sensor whose chain starts with a
// record that matches nothing.
uint32_t twoBoxBody(levels::LevelBuilder& b, glm::vec2 at) {
    levels::Fixture f;
    f.density = 1.0f;
    uint32_t const body = b.dynamicBody(at, levels::boxShape({0.0f, 0.0f}, {0.3f, 0.3f}, f));
    b.data().dynamicBodies[body].shapes.push_back(levels::boxShape({0.0f, 1.2f}, {0.3f, 0.3f}, f));
    return body;
}

void chainedSensor(levels::LevelBuilder& b, glm::vec2 at, uint32_t begin, uint32_t end, uint8_t perBody) {
    auto& signals = b.data().fixtureSignals;
    uint32_t const first = uint32_t(signals.size());
    signals.push_back(FixtureSignal{9001, 9002, 0x0100, 0, int32_t(first + 1), 0});
    signals.push_back(FixtureSignal{begin, end, levels::solidCategory, 0, -1, perBody});
    b.data().signalShapes.push_back(levels::boxShape(at, {1.0f, 0.5f}, levels::sensorFixture(first)));
}

}  // namespace

// Contacts walk the sensor's chain to the first match: begins per fixture contact, ends per
// fixture contact, or per body once the last fixture of the body has left.
TEST(Contacts, ChainsRaiseBeginAndEndAndPerBodyEndsAfterTheLastFixture) {
    auto b = flatLevel();
    chainedSensor(b, {-10.0f, 10.0f}, 701, 702, 1);
    chainedSensor(b, {10.0f, 10.0f}, 711, 712, 0);
    twoBoxBody(b, {-10.0f, 14.0f});
    twoBoxBody(b, {10.0f, 14.0f});
    Rig rig(b.data());
    Heard heard(&rig.events, {701, 702, 711, 712, 9001, 9002});
    rig.frames(150, 20.0f, &heard);
    EXPECT_EQ(heard.count(701), 2);
    EXPECT_EQ(heard.count(702), 1);
    EXPECT_EQ(heard.count(711), 2);
    EXPECT_EQ(heard.count(712), 2);
    EXPECT_EQ(heard.count(9001) + heard.count(9002), 0);
    EXPECT_GT(heard.firstFrame(702), heard.firstFrame(701));
}

// The goal is queued during the step and raised when the world replays the queue after it.
TEST(Contacts, TheGoalIsRaisedAfterTheStep) {
    auto b = flatLevel();
    b.goal({0.0f, 1.0f}, {1.0f, 2.0f});
    Rig rig(b.data());
    rig.events.dispatch();  // signal 1
    rig.world->physics().Step(1.0f / 60.0f, 6, 4);
    EXPECT_EQ(rig.events.queuedCount(), 0u);
    rig.world->contactListener().replayQueued();
    EXPECT_EQ(rig.events.queuedCount(), 1u);
    Heard heard(&rig.events, {20000000});
    rig.frames(3, 20.0f, &heard);
    EXPECT_EQ(heard.count(20000000), 1);
}

// The outer circle detects; it pushes only bodies flagged 2.
TEST(Contacts, TheOuterCirclePushesOnlyFlaggedBodies) {
    auto b = flatLevel();
    uint32_t const flagged = b.boxBody({-0.7f, 0.4f}, {0.2f, 0.2f});
    uint32_t const plain = b.boxBody({0.7f, 0.4f}, {0.2f, 0.2f});
    b.data().dynamicBodies[flagged].bodyDef.userData = 2;
    for (uint32_t i : {flagged, plain}) {
        b.data().dynamicBodies[i].bodyDef.gravityScale = 0.0f;
    }
    Rig rig(b.data());
    rig.frames(60);
    EXPECT_LT(rig.world->dynamicBodies()[flagged].getBody()->GetPosition().x, -0.75f);
    EXPECT_FLOAT_EQ(rig.world->dynamicBodies()[plain].getBody()->GetPosition().x, 0.7f);
}

// Water records the player's inner circle and splashes when it leaves; the outer circle is not
// recorded.
TEST(Contacts, WaterCountsTheInnerCircleOnly) {
    auto b = flatLevel();
    b.fluid({0.0f, 1.0f}, {3.0f, 3.0f});
    Rig rig(b.data());
    rig.frame();
    FluidVolume& water = rig.world->getFluids().getVolume(0);
    auto touches = [&](b2Fixture* f) {
        return std::any_of(water.touching().begin(), water.touching().end(),
                           [f](FluidVolume::Contact const& t) { return t.other == f; });
    };
    EXPECT_TRUE(touches(rig.world->getPlayer().innerFixture()));
    EXPECT_FALSE(touches(rig.world->getPlayer().outerFixture()));
    int const before = water.splashesStarted();
    rig.world->physics().SetTransform(rig.world->getPlayer().getBody(), b2Vec2(40.0f, 1.0f), 0.0f);
    rig.frame();
    EXPECT_FALSE(touches(rig.world->getPlayer().innerFixture()));
    EXPECT_EQ(water.splashesStarted(), before + 1);
}

// A next index outside the table ends the chain; a cycle is walked at most once round.
TEST(Contacts, BrokenChainsEndTheWalk) {
    auto b = flatLevel();
    auto& signals = b.data().fixtureSignals;
    signals.push_back(FixtureSignal{801, 0, 0, 0, 7, 0});
    signals.push_back(FixtureSignal{802, 0, 0, 0, 2, 0});
    signals.push_back(FixtureSignal{803, 0, 0, 0, 1, 0});
    signals.push_back(FixtureSignal{804, 0, 0, 0, -5, 0});
    for (uint32_t i : {0u, 1u, 3u}) {
        b.data().signalShapes.push_back(levels::boxShape({20.0f + 3.0f * float(i), 1.0f}, {1.0f, 1.0f}, levels::sensorFixture(i)));
    }
    Rig rig(b.data());
    World& w = *rig.world;
    b2Fixture* inner = w.getPlayer().innerFixture();
    for (int i : {0, 1, 3}) {
        // The world's moved table: find the fixture pointing at entry i.
        b2Fixture* f = nullptr;
        for (b2Fixture* g = w.groundBody()->GetFixtureList(); g != nullptr; g = g->GetNext()) {
            auto const* first = reinterpret_cast<FixtureSignal const*>(g->GetUserData().pointer);
            if (first != nullptr && first->beginSignal == 801u + uint32_t(i)) {
                f = g;
            }
        }
        ASSERT_NE(f, nullptr) << i;
        EXPECT_EQ(w.contactListener().firstMatch(f, inner), nullptr) << i;
    }
}
