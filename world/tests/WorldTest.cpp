#include <box2d/b2_body.h>
#include <box2d/b2_circle_shape.h>
#include <box2d/b2_polygon_shape.h>
#include <gtest/gtest.h>

#include <cmath>

#include "physics/particles/Box2DAdapter.h"
#include "world/tests/WorldRig.h"

using world_test::FakeMusic;
using world_test::flatLevel;
using world_test::Heard;
using world_test::Rig;

// Each update is one fixed physics step, whatever the frame took; the clock sums the frames and
// the level-installed signal zeroes it.
TEST(World, EveryUpdateStepsOneSixtiethWhateverTheFrameTook) {
    auto b = flatLevel();
    uint32_t const box = b.boxBody({20.0f, 30.0f}, {0.5f, 0.5f});
    PristineLevel::DynamicBody const record = b.data().dynamicBodies[box];

    // The same body alone, stepped the way the world must.
    PhysicsWorld reference(b2Vec2(0.0f, -10.8f));
    b2Body* alone = reference.CreateBody(Box2DAdapter::toBodyDef(record.bodyDef));
    b2PolygonShape shape;
    shape.SetAsBox(0.5f, 0.5f);
    alone->CreateFixture(&shape, 1.0f);

    Rig rig(b.data());
    b2Body* body = rig.world->dynamicBodies()[box].getBody();
    float total = 0.0f;
    for (float dt : {16.0f, 5.0f, 33.3f, 0.0f, 100.0f}) {
        rig.frame(dt);
        total += dt;
        reference.Step(1.0f / 60.0f, 6, 4);
        EXPECT_FLOAT_EQ(body->GetPosition().y, alone->GetPosition().y) << "after a frame of " << dt << " ms";
        EXPECT_FLOAT_EQ(rig.world->getTime(), total);
    }
    rig.raise(20000001);
    rig.frame(7.0f);
    EXPECT_FLOAT_EQ(rig.world->getTime(), 7.0f);
}

TEST(World, SignalOneComesAtTheFirstDispatchAfterTheWorldIsBuilt) {
    auto b = flatLevel();
    b.signalFilter(1, 500, 0, -1, 0.0f);
    Rig rig(b.data());
    EXPECT_EQ(rig.world->signalFilters()[0].count(), 0) << "not during construction";
    Heard heard(&rig.events, {1, 500});
    rig.frames(2, 20.0f, &heard);
    EXPECT_EQ(heard.firstFrame(1), 0);
    EXPECT_EQ(heard.firstFrame(500), 0) << "raised inside the dispatch, delivered by it";
    EXPECT_EQ(heard.count(1), 1);
}

// Finished tasks leave the list; the others keep their order.
TEST(World, FinishedTasksLeaveInOrder) {
    auto b = flatLevel();
    uint32_t const go = b.signal();
    b.delayedSignal(go, 601, 200.0f);
    b.delayedSignal(go, 602, 50.0f);
    b.delayedSignal(go, 603, 120.0f);
    Rig rig(b.data());
    Heard heard(&rig.events, {601, 602, 603});
    rig.raise(go);
    rig.frame(20.0f, &heard);
    ASSERT_EQ(rig.world->tasks().size(), 3u);
    std::vector<std::size_t> sizes;
    for (int i = 0; i < 12; ++i) {
        rig.frame(20.0f, &heard);
        sizes.push_back(rig.world->tasks().size());
    }
    EXPECT_LT(heard.firstFrame(602), heard.firstFrame(603));
    EXPECT_LT(heard.firstFrame(603), heard.firstFrame(601));
    EXPECT_EQ(sizes.back(), 0u);
    EXPECT_TRUE(std::is_sorted(sizes.rbegin(), sizes.rend()));
}

// Music follows the nearest path segment: the wanted track starts silent once the volume is 0,
// then fades in; a frame of 0 ms and a path of one point change nothing.
TEST(World, MusicAlongThePath) {
    auto b = flatLevel();
    b.data().soundTable.musicTracks = {"music/one", "music/two"};
    b.musicNode({-50.0f, 0.0f}, 0, 0.5f, 3.0f, 6.0f);
    b.musicNode({50.0f, 0.0f}, 1, 0.8f, 3.0f, 6.0f);
    Rig rig(b.data());
    rig.frame(0.0f);
    EXPECT_TRUE(rig.music.calls.empty()) << "a frame of 0 ms";
    rig.frame(100.0f);
    EXPECT_EQ(rig.music.calls, (std::vector<std::string>{"volume 0.000000", "stop", "play music/one.m4a"}));
    EXPECT_EQ(rig.world->currentMusicTrack(), 0);
    rig.music.calls.clear();
    rig.frame(100.0f);
    rig.frame(100.0f);
    EXPECT_EQ(rig.music.calls, (std::vector<std::string>{"volume 0.300000", "volume 0.500000"}));

    // A track index past the list is silence; the volume still fades as for any track.
    auto past = flatLevel();
    past.data().soundTable.musicTracks = {"music/one"};
    past.musicNode({-50.0f, 0.0f}, 7, 0.5f, 3.0f, 6.0f);
    past.musicNode({50.0f, 0.0f}, 7, 0.5f, 3.0f, 6.0f);
    Rig silent(past.data());
    silent.frame(100.0f);
    EXPECT_EQ(silent.music.calls, (std::vector<std::string>{"volume 0.000000", "stop"}));

    auto single = flatLevel();
    single.data().soundTable.musicTracks = {"music/one"};
    single.musicNode({0.0f, 0.0f}, 0, 0.5f, 3.0f, 6.0f);
    Rig one(single.data());
    one.frames(5, 100.0f);
    EXPECT_TRUE(one.music.calls.empty());
    EXPECT_EQ(one.world->currentMusicTrack(), -1);
}

TEST(World, ALevelWithoutCheckPointsOrLiquidsStillBuilds) {
    levels::LevelBuilder b;
    b.ground({{-50.0f, 0.0f}, {50.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
    Rig rig(b.data());
    ASSERT_EQ(rig.world->checkPoints().size(), 1u);
    EXPECT_EQ(rig.world->getPlayer().getCheckPoint(), &rig.world->checkPoints()[0]);
    EXPECT_FLOAT_EQ(rig.world->getPlayer().getPosition().x, 0.0f);
    EXPECT_FALSE(rig.world->hasLiquidSound());
    rig.frames(3);

    auto liquid = flatLevel();
    liquid.particleLiquid({10.0f, 3.0f}, {1.0f, 1.0f});
    Rig withLiquid(liquid.data());
    EXPECT_TRUE(withLiquid.world->hasLiquidSound());
    EXPECT_EQ(withLiquid.world->physics().GetParticleCollisionMask(), 0x0802);
}

// All facing meshes turn by one angle about their own pivots, so that their local -x axis
// points at the player on screen; their tree leaves follow.
TEST(World, FacingMeshesTurnAboutTheirPivotTowardThePlayer) {
    auto b = flatLevel();  // the player starts at (0, 1)
    uint32_t const quad = b.quad({-4.0f, 1.0f}, {1.0f, 0.25f}, glm::vec4(1.0f));
    b.facingMesh({quad}, glm::vec3(-4.0f, 1.0f, 0.0f));
    Rig rig(b.data());
    rig.frame();
    DrawList& list = rig.world->drawList();
    DrawList::Handle const& handle = list.handleRecord(quad);
    ASSERT_TRUE(list.entry(handle)->matrix.has_value());
    glm::mat4 const m = *list.entry(handle)->matrix;
    glm::vec4 const minusX = m * glm::vec4(-1.0f, 0.0f, 0.0f, 0.0f);
    glm::vec2 const toPlayer = rig.world->getPlayer().getPosition() - glm::vec2(-4.0f, 1.0f);
    float const cosine = (minusX.x * toPlayer.x + minusX.y * toPlayer.y) / glm::length(toPlayer);
    EXPECT_NEAR(cosine, 1.0f, 1e-3f);
    glm::vec4 const pivot = m * glm::vec4(-4.0f, 1.0f, 0.0f, 1.0f);
    EXPECT_NEAR(pivot.x, -4.0f, 1e-4f);
    EXPECT_NEAR(pivot.y, 1.0f, 1e-4f);
    // The leaf holds the turned box: the quad lies along x, turned by about pi it still does.
    btDbvtVolume const& box = handle.leaf->volume;
    EXPECT_NEAR(box.Mins().x(), -5.0f, 0.1f);
    EXPECT_NEAR(box.Maxs().x(), -3.0f, 0.1f);
}

TEST(AnimatedValue, RunsThroughItsRangeAndHoldsWithoutARate) {
    AnimatedValue forward = AnimatedValue::overRange(PristineLevel::WrapMode::Clamp, 2.0f, 4.0f, 1.0f, 1, 0.5f);
    EXPECT_FLOAT_EQ(forward.value(), 2.5f);
    forward.playForward();
    forward.update(1.0f);
    EXPECT_FLOAT_EQ(forward.value(), 3.5f);
    EXPECT_FALSE(forward.isFinished());
    forward.update(0.5f);
    EXPECT_TRUE(forward.isFinished());
    forward.setTime(0.25f);
    EXPECT_TRUE(forward.isFinished()) << "setTime keeps the state";
    EXPECT_FLOAT_EQ(forward.value(), 2.25f);

    AnimatedValue backward(PristineLevel::WrapMode::PingPong, 0.0f, 1.0f, 1.0f, 10.0f, 0.2f);
    backward.playBackward();
    backward.update(0.5f);
    EXPECT_TRUE(backward.isFinished()) << "below 0";
    EXPECT_FLOAT_EQ(backward.value(), 0.3f) << "computed from the negative time";

    // A rate of 0 would divide the duration and the start time by 0.
    AnimatedValue still = AnimatedValue::overRange(PristineLevel::WrapMode::Repeat, 1.0f, 3.0f, 0.0f, 2, 0.5f);
    still.playForward();
    for (int i = 0; i < 10; ++i) {
        still.update(0.5f);
    }
    EXPECT_FLOAT_EQ(still.value(), 1.0f);
    EXPECT_FALSE(still.isFinished());
    AnimatedValue endless = AnimatedValue::overRange(PristineLevel::WrapMode::Repeat, 0.0f, 1.0f, 1.0f, -1, 0.0f);
    endless.playForward();
    endless.update(1e6f);
    EXPECT_FALSE(endless.isFinished());
}

TEST(Keyframes, EvaluatesTheBezierPathAndItsValue) {
    using PristineLevel::Keyframe;
    using PristineLevel::Keyframes;
    EXPECT_FALSE(Keyframes().evaluate(1.0f).has_value()) << "an empty path moves nothing";

    Keyframes one({Keyframe{1.0f, {3.0f, 4.0f}, {}, {}, 0.5f}}, PristineLevel::WrapMode::Clamp);
    for (float t : {-1.0f, 0.0f, 2.0f}) {
        ASSERT_TRUE(one.evaluate(t).has_value());
        EXPECT_EQ(one.evaluate(t)->point, glm::vec2(3.0f, 4.0f));
    }

    Keyframes path({Keyframe{1.0f, {0.0f, 0.0f}, {}, {1.0f, 1.0f}, 0.0f}, Keyframe{3.0f, {4.0f, 0.0f}, {-1.0f, 1.0f}, {}, 2.0f}},
                   PristineLevel::WrapMode::Clamp);
    auto const before = path.evaluate(0.5f);
    EXPECT_EQ(before->point, glm::vec2(0.0f, 0.0f));
    EXPECT_FLOAT_EQ(before->value, 0.0f);
    auto const middle = path.evaluate(2.0f);  // u = 0.5: (P0 + 3 P1 + 3 P2 + P3) / 8
    EXPECT_FLOAT_EQ(middle->point.x, (0.0f + 3.0f * 1.0f + 3.0f * 3.0f + 4.0f) / 8.0f);
    EXPECT_FLOAT_EQ(middle->point.y, (3.0f * 1.0f + 3.0f * 1.0f) / 8.0f);
    EXPECT_FLOAT_EQ(middle->value, 1.0f);
}
