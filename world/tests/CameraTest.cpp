#include <box2d/b2_body.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "os/services/Music.h"
#include "world/Rect.h"
#include "world/tests/WorldRig.h"

using world_test::flatLevel;
using world_test::Heard;
using world_test::Rig;

namespace {

levels::LevelBuilder wideLevel() {
    levels::LevelBuilder b;
    b.ground({{-200.0f, 0.0f}, {200.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
    b.checkPoint({0.0f, 1.0f});
    return b;
}

void push(Rig& rig, float vx) {
    b2Body* body = rig.world->getPlayer().getBody();
    body->SetLinearVelocity(b2Vec2(vx, body->GetLinearVelocity().y));
}

}  // namespace

// The look-ahead moves only while a direction is held, toward the side of the velocity, ramping
// up over 500 ms after each reversal, and stops at 2 m.
TEST(Camera, LookAheadRampsTowardTheVelocity) {
    Rig rig(wideLevel().data());
    Camera& camera = rig.world->getCamera();
    rig.frames(5);
    EXPECT_NEAR(camera.lookAhead().x, 0.0f, 1e-6f) << "no key held";
    EXPECT_FLOAT_EQ(camera.lookAhead().y, -1.5f);
    rig.input.right = 1;
    std::vector<float> steps;
    float last = 0.0f;
    for (int i = 0; i < 40; ++i) {
        push(rig, 5.0f);
        rig.frame(20.0f);
        steps.push_back(camera.lookAhead().x - last);
        last = camera.lookAhead().x;
    }
    EXPECT_LT(steps[1], steps[10]) << "ramping up";
    EXPECT_NEAR(steps[30], 20.0f * 0.005f, 1e-4f) << "5 m a second at full ramp";
    EXPECT_FLOAT_EQ(camera.lookAhead().x, 2.0f);

    // Right held while moving left: the key is against the motion, the ramp holds its time and
    // the look-ahead follows the velocity.
    push(rig, -5.0f);
    rig.frame(20.0f);
    EXPECT_LT(camera.lookAhead().x, 2.0f);
    rig.input = ControlSchemeInputState();
    rig.input.left = 1;
    float before = camera.lookAhead().x;
    push(rig, -5.0f);
    rig.frame(20.0f);
    EXPECT_GT(camera.lookAhead().x, before - 0.01f) << "a reversal restarts the ramp from 0";
}

// A pan eases linearly over its duration; asking for the same target again does not restart
// it. The movement step releases pans every step no zone is touched, unless the offset is held;
// the release eases back over the last pan's duration.
TEST(Camera, PansEaseLinearly) {
    Rig rig(wideLevel().data());
    Camera& camera = rig.world->getCamera();
    rig.frame();
    camera.setHoldOffset(true);
    camera.panTo(glm::vec2(4.0f, 2.0f), false, false, 200.0f);
    rig.frame(50.0f);
    EXPECT_NEAR(camera.panOffset().x, 1.0f, 1e-5f);
    EXPECT_NEAR(camera.panOffset().y, 0.5f, 1e-5f);
    camera.panTo(glm::vec2(4.0f, 2.0f), false, false, 200.0f);
    rig.frame(50.0f);
    EXPECT_NEAR(camera.panOffset().x, 2.0f, 1e-5f);
    rig.frames(4, 50.0f);
    EXPECT_NEAR(camera.panOffset().x, 4.0f, 1e-5f);
    camera.setLocked(true);
    camera.panTo(glm::vec2(-4.0f, 0.0f), false, false, 200.0f);
    rig.frame(50.0f);
    EXPECT_NEAR(camera.panOffset().x, 4.0f, 1e-5f) << "locked";
    camera.setLocked(false);
    camera.setHoldOffset(false);
    rig.frames(2, 50.0f);
    EXPECT_NEAR(camera.panOffset().x, 2.0f, 1e-5f);
}

// View blockers stop the camera body; the view then snaps to whole pixels; what lies outside the
// view is culled.
TEST(Camera, ViewBlockersStopTheBodyAndTheViewSnapsToPixels) {
    auto b = wideLevel();
    levels::Fixture wall;
    wall.category = levels::viewBlockerCategory;
    b.data().staticShapes.push_back(levels::boxShape({40.0f, 20.0f}, {0.5f, 40.0f}, wall));
    uint32_t const near = b.quad({0.0f, 2.0f}, {0.5f, 0.5f}, glm::vec4(1.0f));
    uint32_t const far = b.quad({120.0f, 2.0f}, {0.5f, 0.5f}, glm::vec4(1.0f));
    Rig rig(b.data());
    rig.frame();
    rig.world->draw(nullptr);
    DrawList& list = rig.world->drawList();
    EXPECT_TRUE(list.isVisible(list.handleRecord(near)));
    EXPECT_FALSE(list.isVisible(list.handleRecord(far)));

    // The player walks through the wall (it stops only the view).
    rig.world->physics().SetTransform(rig.world->getPlayer().getBody(), b2Vec2(80.0f, 1.0f), 0.0f);
    rig.frames(150);
    EXPECT_GT(rig.world->getPlayer().getPosition().x, 79.0f);
    float const halfWidth = 1280.0f / 85.0f / 2.0f;
    EXPECT_LT(rig.world->getCamera().getPosition().x, 39.5f - halfWidth + 0.1f);
    glm::vec2 const pixels = rig.world->getCamera().viewCentre() * 85.0f;
    EXPECT_NEAR(pixels.x, std::round(pixels.x), 2e-3f);
    EXPECT_NEAR(pixels.y, std::round(pixels.y), 2e-3f);
}

// The closing shot's signals come at their times from its start.
TEST(Camera, TheEndSequenceRaisesItsSignalsInTime) {
    Rig rig(wideLevel().data());
    Heard heard(&rig.events, {20000015, 20000023, 20000024, 20000000});
    rig.raise(20000014);
    rig.frames(420, 100.0f, &heard);
    EXPECT_TRUE(rig.world->getPlayer().cameraZonesIgnored());
    // Frame k's dispatch hears what update k - 1 raised, k x 100 ms after the start.
    EXPECT_NEAR(heard.firstFrame(20000015) * 100, 13000, 100);
    EXPECT_NEAR(heard.firstFrame(20000023) * 100, 22500, 100);
    EXPECT_NEAR(heard.firstFrame(20000024) * 100, 24700, 200);
    EXPECT_NEAR(heard.firstFrame(20000000) * 100, 40100, 200);
    EXPECT_EQ(heard.count(20000000), 1);
    EXPECT_EQ(rig.world->getCamera().sequenceState(), 8u);
}

// In path mode the view runs along the points with the music clock; a cursor below the first
// point, or one that never moves (rate 0), holds the first point.
TEST(Camera, PathModeFollowsTheMusicClock) {
    auto path = [](float from, float rate) {
        auto b = wideLevel();
        PristineLevel::CameraTrack track;
        track.points = {{0.0f, 0.0f, 0.0f}, {10.0f, 0.0f, 0.0f}, {20.0f, 5.0f, 0.0f}, {NAN, 0.0f, 0.0f}};
        track.from = from;
        track.to = 2.0f;
        track.rate = rate;
        track.repeatCount = 1;
        track.wrapMode = PristineLevel::WrapMode::Clamp;
        b.data().levelInfo.cameraTrack = track;
        return b.data();
    };
    restartMusicClock();
    Rig moving(path(0.0f, 4.0f));
    moving.frame();
    float const early = moving.world->getCamera().viewCentre().x;
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    moving.frame();
    EXPECT_GT(moving.world->getCamera().viewCentre().x, early);
    EXPECT_LE(moving.world->getCamera().viewCentre().x, 20.0f) << "the point that is not a number was dropped";

    Rig still(path(1.0f, 0.0f));
    still.frames(3);
    EXPECT_FLOAT_EQ(still.world->getCamera().viewCentre().x, 10.0f) << "rate 0 holds the start value";

    Rig below(path(-3.0f, 1.0f));
    below.frames(2);
    EXPECT_FLOAT_EQ(below.world->getCamera().viewCentre().x, 0.0f);
}

// A shaker shakes on alternate frames with full strength up to its inner radius, none past the
// falloff, fading in and out; once stopped it keeps its task until its duration has passed.
TEST(CameraShaker, ShakesByDistanceAndFadesUntilItsDurationEnds) {
    auto b = wideLevel();
    b.cameraShaker({0.0f, 0.0f}, 901, 902, 1000.0f);  // fades 100 in, 200 out
    auto& shaker = b.data().cameraShakers[0];
    shaker.amplitude = 0.4f;
    shaker.innerRadius = 5.0f;
    shaker.falloff = 10.0f;
    shaker.secondaryFactor = 0.5f;
    Rig rig(b.data());
    CameraShaker& s = rig.world->cameraShakers()[0];
    EXPECT_FLOAT_EQ(s.amplitudeAt(5.0f), 0.4f);
    EXPECT_FLOAT_EQ(s.amplitudeAt(10.0f), 0.2f);
    EXPECT_NEAR(s.amplitudeAt(15.0f), 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(s.amplitudeAt(40.0f), 0.0f);

    rig.frames(10);
    rig.raise(901);
    std::vector<float> moves;
    glm::vec2 previous = rig.world->getCamera().viewCentre();
    std::vector<float> fades;
    for (int i = 0; i < 20; ++i) {
        rig.frame(20.0f);
        glm::vec2 const c = rig.world->getCamera().viewCentre();
        moves.push_back(glm::length(c - previous));
        previous = c;
        fades.push_back(s.fade());
    }
    EXPECT_NEAR(fades[0], 0.2f, 1e-5f) << "fading in at 1/100 per ms";
    EXPECT_FLOAT_EQ(fades[10], 1.0f);
    // Shaken frames alternate with unshaken ones: the view jumps away and back.
    int jumps = 0;
    for (float m : moves) {
        jumps += m > 0.01f ? 1 : 0;
    }
    EXPECT_GE(jumps, 10);

    rig.raise(902);
    rig.frame(20.0f);
    EXPECT_LT(s.fade(), 1.0f);
    ASSERT_EQ(rig.world->tasks().size(), 1u) << "stopped, the run keeps its task";
    rig.frames(25, 20.0f);
    EXPECT_FLOAT_EQ(s.fade(), 0.0f);
    rig.frames(20, 20.0f);
    EXPECT_TRUE(rig.world->tasks().empty()) << "gone once the duration has passed";
}

TEST(Rect, ContainsOnlyItsInside) {
    Rect const r(glm::vec2(1.0f, 2.0f), glm::vec2(2.0f, 1.0f));
    EXPECT_TRUE(r.contains({1.0f, 2.0f}));
    for (glm::vec2 edge : {glm::vec2(-1.0f, 2.0f), glm::vec2(3.0f, 2.0f), glm::vec2(1.0f, 1.0f), glm::vec2(1.0f, 3.0f)}) {
        EXPECT_FALSE(r.contains(edge));
    }
    EXPECT_FLOAT_EQ(r.getWidth(), 4.0f);
    EXPECT_FALSE(Rect(glm::vec2(0.0f), glm::vec2(0.0f)).contains({0.0f, 0.0f}));
}
