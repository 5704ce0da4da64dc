// The level objects in running worlds: water, pads, coins, observers, animated bodies, sheets and
// meshes, hinges, switches, racks, and the sample level with one of every kind.
#include <box2d/b2_body.h>
#include <box2d/b2_fixture.h>
#include <box2d/b2_revolute_joint.h>

#include <cmath>
#include <cstring>

#include "level/LevelReader.h"
#include "os/services/GameCenter.h"
#include "world/tests/WorldRig.h"

namespace {

using world_test::Heard;
using world_test::Rig;
using PristineLevel::Keyframe;
using PristineLevel::Keyframes;
using PristineLevel::WrapMode;

b2Body* bodyOf(Rig& rig, uint32_t index) { return rig.world->dynamicBodies()[index].getBody(); }

// Water from y 0 to 4 at x 20: a box dropped in floats, one that starts inside never splashes,
// still water elsewhere stays off, and a box resting exactly on the surface gets no force.
TEST(Objects, WaterSplashesOnceFloatsBoxesAndStaysStillWhenDisabled) {
    auto b = world_test::flatLevel();
    b.fluid({20.0f, 2.0f}, {3.0f, 2.0f});
    b.fluid({-20.0f, 2.0f}, {3.0f, 2.0f});
    b.data().fluids[1].enableSignal = 0;
    // Far from the origin, so that the overlap's fan of triangles cancels to nothing.
    b.fluid({300.0f, 2.0f}, {3.0f, 2.0f});
    uint32_t const dropped = b.boxBody({18.0f, 5.5f}, {0.4f, 0.4f});
    uint32_t const inside = b.boxBody({22.0f, 2.0f}, {0.4f, 0.4f});
    uint32_t const still = b.boxBody({-20.0f, 8.0f}, {0.4f, 0.4f});
    uint32_t const resting = b.boxBody({300.0f, 4.4f}, {0.4f, 0.4f});
    b.data().dynamicBodies[resting].bodyDef.gravityScale = 0.0f;
    Rig rig(b.data());
    rig.frames(600, 1000.0f / 60.0f);
    Fluids& fluids = rig.world->getFluids();
    EXPECT_EQ(fluids.getVolume(0).splashesStarted(), 1) << "the dropped box only";
    // Density 1 against 1.2: five sixths of the 0.8 m box under a surface at 4.
    float const floating = 4.0f - 0.8f / 1.2f + 0.4f;
    EXPECT_NEAR(bodyOf(rig, dropped)->GetPosition().y, floating, 0.08f);
    EXPECT_NEAR(bodyOf(rig, inside)->GetPosition().y, floating, 0.08f);
    EXPECT_EQ(fluids.getVolume(1).splashesStarted(), 0);
    EXPECT_FALSE(fluids.getVolume(1).touching().empty()) << "a disabled volume still records";
    EXPECT_LT(bodyOf(rig, still)->GetPosition().y, 0.5f) << "fell through still water";
    b2Body* sliver = bodyOf(rig, resting);
    EXPECT_TRUE(std::isfinite(sliver->GetAngularVelocity()));
    EXPECT_LT(std::fabs(sliver->GetAngularVelocity()), 1e-3f);

    // Four splashes at once; a fifth waits until one has played out; the gain follows |v| / 15.
    FluidVolume& water = fluids.getVolume(0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(water.splash({20.0f, 4.0f}, {0.0f, -7.5f}));
        EXPECT_FLOAT_EQ(water.lastSplashGain(), 0.5f);
    }
    EXPECT_FALSE(water.splash({20.0f, 4.0f}, {0.0f, -30.0f}));
    rig.frames(70, 1000.0f / 60.0f);
    EXPECT_TRUE(water.splash({20.0f, 4.0f}, {0.0f, -30.0f}));
    EXPECT_FLOAT_EQ(water.lastSplashGain(), 1.0f);
}

// A pad on a body turned a quarter launches along the turned impulse, and only once per 500 ms;
// a zone round the start pans the view; zones and water moved to another vector still answer
// for their fixtures.
TEST(Objects, PadsLaunchAlongTheirBodyOncePerHalfSecond) {
    auto b = world_test::flatLevel();
    b.cameraZone({0.0f, 1.0f}, {3.0f, 3.0f}, {0.0f, 3.0f});
    b.fluid({30.0f, 1.0f}, {1.0f, 1.0f});
    uint32_t const carrier = b.boxBody({6.0f, 3.0f}, {0.5f, 0.1f}, PristineLevel::BodyDef::kinematicBody);
    b.data().dynamicBodies[carrier].bodyDef.angle = 1.5707964f;
    uint32_t const pad = b.jumpPad({0.0f, 0.0f}, {0.5f, 0.1f}, {0.0f, 8.0f});
    b.data().jumpPads[pad].body = carrier;
    b.data().jumpPads[pad].blockDuration = 300.0f;
    b.data().jumpPads[pad].blockJump = true;
    uint32_t const fire = b.data().jumpPads[pad].triggerSignal;
    Rig rig(b.data());
    rig.frames(30);
    EXPECT_NEAR(rig.world->getCamera().panOffset().y, 3.0f, 1e-3f) << "panned by the zone";
    b2Body* player = rig.world->getPlayer().getBody();
    auto const fireAndRead = [&] {
        player->SetLinearVelocity(b2Vec2(0.0f, 0.0f));
        rig.raise(fire);
        rig.frame();
        return player->GetLinearVelocity();
    };
    b2Vec2 const first = fireAndRead();
    EXPECT_LT(first.x, -5.0f) << "(0, 8) turned a quarter is (-8, 0)";
    EXPECT_LT(std::fabs(first.y), 1.0f);
    EXPECT_GT(fireAndRead().x, -1.0f) << "within 500 ms";
    rig.frames(25);
    EXPECT_LT(fireAndRead().x, -5.0f);

    b2Body* ground = rig.world->groundBody();
    std::vector<CameraZone> zones;
    zones.emplace_back(b.data().cameraZones[0], ground);
    std::vector<FluidVolume> volumes;
    volumes.emplace_back(nullptr, nullptr, b.data().fluids[0], ground);
    zones.reserve(8);  // both move: their fixtures follow them
    volumes.reserve(8);
    int moved = 0;
    for (b2Fixture* f = ground->GetFixtureList(); f != nullptr; f = f->GetNext()) {
        uintptr_t const p = f->GetUserData().pointer;
        moved += p == reinterpret_cast<uintptr_t>(&zones[0]) || p == reinterpret_cast<uintptr_t>(&volumes[0]);
    }
    EXPECT_EQ(moved, 2);
}

// A pad with a zero launch leaves the velocity alone and blocks moving and jumping for its block
// time; afterwards the same input moves the player.
TEST(Objects, PadsBlockTheControlsForTheirDuration) {
    auto b = world_test::flatLevel();
    uint32_t const pad = b.jumpPad({40.0f, 0.5f}, {0.5f, 0.1f}, {0.0f, 0.0f});
    b.data().jumpPads[pad].blockDuration = 300.0f;
    b.data().jumpPads[pad].blockJump = true;
    b.data().jumpPads[pad].blockDive = true;
    uint32_t const fire = b.data().jumpPads[pad].triggerSignal;
    Rig rig(b.data());
    rig.frames(40);
    b2Body* player = rig.world->getPlayer().getBody();
    float const x0 = player->GetPosition().x;
    rig.raise(fire);
    rig.input.right = 1;
    rig.input.jump = 1;
    rig.frames(12);  // 240 ms
    EXPECT_NEAR(player->GetPosition().x, x0, 0.02f) << "moving blocked";
    EXPECT_LT(player->GetLinearVelocity().y, 0.5f) << "jumping blocked";
    rig.frames(30);
    EXPECT_GT(player->GetPosition().x, x0 + 0.2f) << "free again after 300 ms";
}

// Coins collect once, their ring fades by 180 ms and the animation ends after 300 ms; the
// achievement coin reports instead of counting; hardcore hides them all.
TEST(Objects, CoinsCollectOnceAndAchievementCoinsReport) {
    auto b = world_test::flatLevel();
    b.coin({1.0f, 6.0f});
    b.coin({2.0f, 6.0f});
    b.coin({3.0f, 6.0f}, 3);
    auto const level = b.data();
    {
        Rig rig(level);
        EXPECT_EQ(rig.world->getCoinCount(), 2u);
        rig.frame();
        rig.raise(level.coins[0].triggerSignal);
        rig.raise(level.coins[0].triggerSignal);
        rig.raise(level.coins[2].triggerSignal);
        rig.frame(20.0f);
        Coin& coin = rig.world->coins()[0];
        EXPECT_TRUE(coin.isCollected() && coin.isAnimating());
        EXPECT_NEAR(coin.ringAlpha(), 0.3f, 1e-6f);
        EXPECT_EQ(rig.world->getPlayer().getCoinCount(), 1u);
        rig.frames(9, 20.0f);
        EXPECT_NEAR(coin.ringAlpha(), 0.0f, 1e-6f) << "faded at 180 ms";
        EXPECT_TRUE(coin.isAnimating());
        rig.frames(7, 20.0f);
        EXPECT_FALSE(coin.isAnimating()) << "over after 300 ms";
        rig.raise(level.coins[0].triggerSignal);
        rig.frames(2);
        EXPECT_EQ(rig.world->getPlayer().getCoinCount(), 1u);
        ASSERT_TRUE(isGameCenterAuthenticated());
        EXPECT_TRUE(rig.world->coins()[2].isCollected());
        EXPECT_DOUBLE_EQ(game_center::services().achievementPercent(*achievementId(3)), 100.0);
    }
    Rig hardcore(level, GameMode::Hardcore);
    hardcore.frame();
    hardcore.raise(level.coins[0].triggerSignal);
    hardcore.frames(2);
    EXPECT_TRUE(hardcore.world->coins()[0].isHidden());
    EXPECT_FALSE(hardcore.world->coins()[0].isCollected());
    EXPECT_EQ(hardcore.world->getPlayer().getCoinCount(), 0u);
}

// Start and stop by >= and <, spin by > and <, and impact on every solved step.
TEST(Objects, ObserversRaiseOnTheirThresholds) {
    auto b = world_test::flatLevel();
    uint32_t const flying = b.boxBody({10.0f, 10.0f}, {0.4f, 0.4f});
    uint32_t const landing = b.boxBody({14.0f, 0.4f}, {0.4f, 0.4f});
    b.data().dynamicBodies[flying].bodyDef.gravityScale = 0.0f;
    b.data().dynamicBodies[landing].bodyDef.allowSleep = false;  // a sleeping body is not solved
    auto& watch = b.data().bodyObservers[b.bodyObserver(int32_t(flying))];
    watch.speedThreshold = 1.0f;
    watch.useDirection = 1;
    watch.direction = glm::vec2(2.0f, 0.0f);
    watch.spinThreshold = 2.0f;
    watch.spinNeedsContact = 0;
    for (uint32_t* id : {&watch.speedUpSignal, &watch.speedDownSignal, &watch.spinSignal, &watch.spinStopSignal}) {
        *id = b.signal();
    }
    auto& hits = b.data().bodyObservers[b.bodyObserver(int32_t(landing))];
    hits.impulseThreshold = 0.05f;
    hits.impulseSignal = b.signal();
    hits.speedThreshold = 100.0f;
    auto const ids = b.data().bodyObservers;
    Rig rig(b.data());
    Heard heard(&rig.events, {ids[0].speedUpSignal, ids[0].speedDownSignal, ids[0].spinSignal,
                              ids[0].spinStopSignal, ids[1].impulseSignal});
    b2Body* body = bodyOf(rig, flying);
    auto const step = [&](b2Vec2 v, float w) {
        body->SetLinearVelocity(v);
        body->SetAngularVelocity(w);
        rig.frame(20.0f, &heard);
        rig.world->physics().SetTransform(body, b2Vec2(10.0f, 10.0f), 0.0f);
    };
    step({0.0f, 5.0f}, 2.0f);  // across the direction; exactly at the spin threshold
    EXPECT_FALSE(rig.world->bodyObservers()[0].isMoving() || rig.world->bodyObservers()[0].isSpinning());
    step({-1.0f, 0.0f}, 2.01f);  // both senses along it count
    EXPECT_TRUE(rig.world->bodyObservers()[0].isMoving() && rig.world->bodyObservers()[0].isSpinning());
    step({1.0f, 0.0f}, 2.0f);  // still moving, still spinning
    step({0.999f, 0.0f}, 1.99f);
    rig.frame(20.0f, &heard);
    EXPECT_EQ(heard.count(ids[0].speedUpSignal), 1);
    EXPECT_EQ(heard.count(ids[0].speedDownSignal), 1);
    EXPECT_EQ(heard.count(ids[0].spinSignal), 1);
    EXPECT_EQ(heard.count(ids[0].spinStopSignal), 1);
    // The resting box weighs 0.64 x 10.8 N: every step's contact impulse is over 0.05.
    int const before = heard.count(ids[1].impulseSignal);
    rig.frames(30, 20.0f, &heard);
    EXPECT_EQ(heard.count(ids[1].impulseSignal) - before, 30);
}

// Clamped and ping-pong paths under play, stop, reverse and rewind; a broken record is skipped.
TEST(Objects, AnimatedBodiesFollowTheirPaths) {
    auto b = world_test::flatLevel();
    Keyframes const path({Keyframe{0.0f, {0.0f, 5.0f}, {}, {}, 0.0f}, Keyframe{1.0f, {10.0f, 5.0f}, {}, {}, 1.0f}},
                         WrapMode::Clamp);
    uint32_t const clamped = b.boxBody({0.0f, 5.0f}, {0.5f, 0.1f}, PristineLevel::BodyDef::kinematicBody);
    uint32_t const bouncing = b.boxBody({0.0f, 5.0f}, {0.5f, 0.1f}, PristineLevel::BodyDef::kinematicBody);
    b.animatedBody(clamped, path);
    b.animatedBody(bouncing, Keyframes(path.keyframes, WrapMode::PingPong));
    b.animatedBody(99, path);
    b.animatedBody(clamped, Keyframes({}, WrapMode::Clamp));
    auto& records = b.data().animatedBodies;
    uint32_t const play = b.signal(), stop = b.signal(), reverse = b.signal(), rewind = b.signal();
    for (auto& r : records) {
        r.playSignal = play, r.stopSignal = stop, r.reverseSignal = reverse, r.rewindSignal = rewind;
    }
    Rig rig(b.data());
    auto const x = [&](uint32_t i) { return bodyOf(rig, i)->GetPosition().x; };
    rig.raise(play);
    rig.frames(75);  // 1.5 s
    EXPECT_NEAR(x(clamped), 10.0f, 1e-4f);
    EXPECT_NEAR(bodyOf(rig, clamped)->GetAngle(), 1.0f, 1e-4f);
    EXPECT_NEAR(x(bouncing), 5.0f, 0.3f) << "half way back";
    rig.raise(reverse);
    rig.frames(75);
    EXPECT_NEAR(x(bouncing), 0.0f, 0.3f);
    EXPECT_NEAR(x(clamped), 0.0f, 1e-4f) << "held at the first keyframe";
    rig.raise(play);
    rig.frames(25);
    rig.raise(stop);
    rig.frames(10);
    EXPECT_NEAR(x(clamped), 5.0f, 0.3f) << "stopped half way";
    rig.raise(rewind);
    rig.frames(2);
    EXPECT_NEAR(x(clamped), 0.0f, 1e-4f);
    EXPECT_EQ(rig.world->animatedBodies()[0].state(), AnimatedBody::Stopped);
}

// A 60 fps 8 x 8 sheet, a texture that fades in only while shown and active, and a mesh that
// blends only on screen, hides when finished and returns on reset.
TEST(Objects, SheetsTexturesAndMeshesAnimate) {
    auto b = world_test::flatLevel();
    auto& sheet = b.data().animatedTextures[b.animatedTexture(b.quad({0.0f, 3.0f}, {0.5f, 0.5f}, glm::vec4(1.0f)))];
    sheet.rows = sheet.columns = 8;
    sheet.frameCount = 64;
    sheet.framesPerSecond = 60.0f;
    auto& fading = b.data().animatedTextures[b.animatedTexture(b.quad({1.0f, 3.0f}, {0.5f, 0.5f}, glm::vec4(1.0f)))];
    fading.visible = 0;
    fading.fadeInTime = 100.0f;
    fading.fadeOutTime = 0.0f;
    fading.showSignal = b.signal();
    fading.showSignal2 = b.signal();
    fading.hideSignal = b.signal();
    fading.hideSignal2 = b.signal();
    std::vector<float> frames(40, 0.0f);
    for (int v = 0; v < 4; ++v) {
        frames[std::size_t(v * 5)] = float(v);         // frame 0: x = v
        frames[std::size_t(20 + v * 5)] = float(v) + 1;  // frame 1: x = v + 1
    }
    auto const* bytes = reinterpret_cast<uint8_t const*>(frames.data());
    b.data().meshAnimationFrames.assign(1, std::vector<uint8_t>(bytes, bytes + frames.size() * 4));
    for (glm::vec2 at : {glm::vec2(2.0f, 3.0f), glm::vec2(200.0f, 3.0f)}) {
        auto& mesh = b.data().animatedMeshes[b.animatedMesh(b.quad(at, {0.5f, 0.5f}, glm::vec4(1.0f)))];
        mesh.frameStride = 80;
        mesh.interpolation = 1;
        mesh.hideWhenFinished = 1;
        mesh.playSignal = 1;
        mesh.rewindSignal = fading.hideSignal;
    }
    b.animatedMesh(b.quad({3.0f, 3.0f}, {0.5f, 0.5f}, glm::vec4(1.0f)));  // no frames: left as drawn
    auto const level = b.data();
    Rig rig(level);
    AnimatedTexture& clock = rig.world->animatedTextures()[0];
    clock.update(1050.0f);
    clock.update(1000.0f / 60.0f);
    EXPECT_EQ(clock.animation().frame(), 63u);
    clock.update(0.0f);
    EXPECT_EQ(clock.animation().frame(), 0u);

    AnimatedTexture& texture = rig.world->animatedTextures()[1];
    auto& meshes = rig.world->animatedMeshes();
    rig.world->draw(nullptr);  // the first cull: the far mesh is off screen
    rig.raise(level.animatedTextures[1].showSignal);
    for (int i = 0; i < 25; ++i) {  // half a second, drawn each frame
        rig.frame();
        rig.world->draw(nullptr);
    }
    EXPECT_EQ(texture.fade(), 0.0f) << "shown but not active";
    EXPECT_NEAR(meshes[0].vertices()[0], 0.5f, 0.05f) << "blended on screen";
    EXPECT_EQ(meshes[1].vertices()[0], 0.0f) << "off screen: not blended";
    EXPECT_FALSE(meshes[2].isEnabled());
    rig.raise(level.animatedTextures[1].showSignal2);
    rig.frames(3);
    EXPECT_NEAR(texture.fade(), 0.6f, 1e-4f);
    rig.frames(30);
    EXPECT_TRUE(meshes[0].isHidden()) << "finished after its second";
    EXPECT_EQ(texture.fade(), 1.0f);
    rig.raise(level.animatedTextures[1].hideSignal);  // also rewinds the meshes
    rig.frames(2);
    EXPECT_EQ(texture.fade(), 0.0f) << "a fade-out time of 0 is immediate";
    EXPECT_FALSE(meshes[0].isHidden());
}

// Hinges, switches and racks on a small level of their own.
TEST(Objects, HingesSwitchesAndRacksAct) {
    auto b = world_test::flatLevel();
    uint32_t const arm = b.boxBody({10.0f, 4.0f}, {1.0f, 0.1f});
    uint32_t const lever = b.boxBody({14.0f, 4.0f}, {0.1f, 1.0f});
    uint32_t const wheel = b.boxBody({18.0f, 4.0f}, {0.5f, 0.5f});
    uint32_t const pinion = b.boxBody({22.0f, 4.0f}, {0.5f, 0.5f});
    uint32_t const rack = b.boxBody({22.0f, 3.0f}, {1.5f, 0.1f});
    for (uint32_t i : {arm, lever, rack}) {
        b.data().dynamicBodies[i].bodyDef.gravityScale = 0.0f;
    }
    PristineLevel::SoundHinge spring;
    spring.lowerAngle = -1.0f;
    spring.upperAngle = 1.0f;
    spring.stiffness = 50.0f;
    spring.body = int32_t(arm);
    spring.secondBody = -1;
    spring.highThreshold = 0.3f;
    spring.lowThreshold = -10.0f;
    b.data().soundHinges = {spring, spring};
    b.data().soundHinges[1].body = 77;  // names no body: dropped
    PristineLevel::JointSwitch lever1;
    lever1.lowerAngle = -1.0f;
    lever1.upperAngle = 1.0f;
    lever1.threshold = 0.5f;
    lever1.body = lever;
    lever1.onSignal = b.signal();
    lever1.offSignal = b.signal();
    lever1.needsJump = true;
    b.data().jointSwitches = {lever1};
    b.data().motorHinges = {PristineLevel::MotorHinge{wheel, -1, 2.0f, {}}};
    PristineLevel::RackAndPinion mechanism;
    mechanism.startSignal = b.signal();
    mechanism.returnSignal = b.signal();
    mechanism.lockSignal = b.signal();
    mechanism.lowerAngle = 0.0f;
    mechanism.upperAngle = 2.0f;
    mechanism.speed = 2.0f;
    mechanism.gears = {PristineLevel::Gear{0.5f, pinion}, PristineLevel::Gear{-1.0f, wheel}};
    mechanism.racks = {PristineLevel::Rack{rack, 0, glm::vec2(1.0f, 0.0f)}, PristineLevel::Rack{rack, 5, {}}};
    b.data().racksAndPinions = {mechanism};
    Rig rig(b.data());
    World& w = *rig.world;
    Heard heard(&rig.events, {lever1.onSignal, lever1.offSignal});

    // 0.2 rad past rest with stiffness 50: torque 10 pushing back. Box2D measures B - A.
    ASSERT_EQ(w.joints().size(), 0u);
    b2RevoluteJoint* hinge = w.springHinges()[0].joint();
    ASSERT_NE(hinge, nullptr);
    EXPECT_EQ(w.springHinges()[1].joint(), nullptr);
    w.physics().SetTransform(bodyOf(rig, arm), b2Vec2(10.0f, 4.0f), -0.2f);
    w.springHinges()[0].update();
    EXPECT_NEAR(hinge->GetMaxMotorTorque(), 10.0f, 1e-4f);
    EXPECT_EQ(hinge->GetMotorSpeed(), -5000.0f);
    EXPECT_EQ(w.springHinges()[0].soundsPlayed(), 0);
    w.physics().SetTransform(bodyOf(rig, arm), b2Vec2(10.0f, 4.0f), -0.4f);
    w.springHinges()[0].update();
    w.springHinges()[0].update();
    w.physics().SetTransform(bodyOf(rig, arm), b2Vec2(10.0f, 4.0f), -0.1f);
    w.springHinges()[0].update();
    w.physics().SetTransform(bodyOf(rig, arm), b2Vec2(10.0f, 4.0f), -0.4f);
    w.springHinges()[0].update();
    EXPECT_EQ(w.springHinges()[0].soundsPlayed(), 2) << "once per outward crossing";

    // The switch needs the angle past 0.5 and jump held.
    auto const leverFrame = [&](float angle, bool jump) {
        w.physics().SetTransform(bodyOf(rig, lever), b2Vec2(14.0f, 4.0f), -angle);
        bodyOf(rig, lever)->SetAngularVelocity(0.0f);
        rig.input.jump = jump ? 1 : 0;
        rig.frame(20.0f, &heard);
    };
    leverFrame(0.7f, false);
    leverFrame(0.7f, true);
    EXPECT_TRUE(w.jointSwitches()[0].isOn());
    leverFrame(0.7f, false);
    EXPECT_FALSE(w.jointSwitches()[0].isOn()) << "off when jump is let go";
    leverFrame(0.3f, true);
    leverFrame(0.3f, true);
    EXPECT_EQ(heard.count(lever1.onSignal), 1);
    EXPECT_EQ(heard.count(lever1.offSignal), 1);
    rig.input.jump = 0;

    b2RevoluteJoint* motor = w.motorHinges()[0].joint();
    ASSERT_NE(motor, nullptr);
    EXPECT_EQ(motor->GetMaxMotorTorque(), MotorHinge::maxTorque);
    EXPECT_NEAR(bodyOf(rig, wheel)->GetAngularVelocity(), -2.0f, 0.05f) << "B - A turns at 2: A turns at -2";

    // Start turns the pinion and slides the rack; return brings it back onto its stop with one
    // stop sound; after the lock, nothing moves it back.
    RackAndPinion& mechanismObject = w.racksAndPinions()[0];
    b2RevoluteJoint* drive = mechanismObject.drive();
    ASSERT_NE(drive, nullptr);
    float const rackStart = bodyOf(rig, rack)->GetPosition().x;
    rig.raise(mechanism.startSignal);
    rig.frames(30);
    EXPECT_GT(drive->GetJointAngle(), 0.5f);
    EXPECT_GT(std::fabs(bodyOf(rig, rack)->GetPosition().x - rackStart), 0.25f) << "the rack follows its gear";
    rig.raise(mechanism.returnSignal);
    rig.frames(300);
    EXPECT_EQ(mechanismObject.stopSoundsPlayed(), 1);
    EXPECT_NEAR(drive->GetMotorSpeed(), -0.3f, 1e-6f);
    rig.raise(mechanism.lockSignal);
    rig.frame();
    rig.raise(mechanism.returnSignal);
    rig.frame();
    EXPECT_TRUE(mechanismObject.isLocked());
    EXPECT_EQ(drive->GetMotorSpeed(), 2.0f);
}

// The sample level: every joint kind builds and every object kind acts in one scripted run.
TEST(Objects, TheSamplerRunsEveryKind) {
    world_test::mountSampleData();
    auto const file = Singleton<FileSystem>::instance().open("levels/sampler.pxl");
    ASSERT_GT(file->size(), 0u);
    PristineLevel::Data level;
    PristineLevel::loadPristineLevel(level, file->data(), file->size());
    auto const records = level;
    Rig rig(std::move(level));
    World& w = *rig.world;
    ASSERT_EQ(w.joints().size(), 10u);
    for (std::size_t i = 0; i < w.joints().size(); ++i) {
        EXPECT_NE(w.joints()[i], nullptr) << "joint kind " << records.joints[i].def.which();
    }
    for (auto* joint : {w.springHinges()[0].joint(), w.motorHinges()[0].joint(), w.jointSwitches()[0].joint(),
                        w.racksAndPinions()[0].drive()}) {
        EXPECT_NE(joint, nullptr);
    }
    b2Body* platform = w.dynamicBodies()[records.animatedBodies[0].body].getBody();
    b2Vec2 const platformStart = platform->GetPosition();
    b2Body* floater = w.dynamicBodies().items().back().getBody();
    rig.raise(records.coins[0].triggerSignal);
    rig.raise(records.racksAndPinions[0].startSignal);
    rig.raise(records.jumpPads[0].triggerSignal);
    auto const ropeBefore = w.ropeSprites()[0].quad().worldVertices();
    rig.frames(240, 1000.0f / 60.0f);
    rig.world->draw(nullptr);
    EXPECT_TRUE(w.coins()[0].isCollected());
    EXPECT_GT((platform->GetPosition() - platformStart).Length(), 1.0f);
    EXPECT_NEAR(floater->GetPosition().y, 2.0f - 0.8f / 1.2f + 0.4f, 0.15f) << "floats in the pool";
    EXPECT_GT(w.getFluids().getVolume(0).splashesStarted(), 0);
    EXPECT_GT(w.racksAndPinions()[0].drive()->GetJointAngle(), 0.5f);
    EXPECT_NE(w.ropeSprites()[0].quad().worldVertices(), ropeBefore);
    EXPECT_GT(std::fabs(w.dynamicBodies()[records.motorHinges[0].body].getBody()->GetAngularVelocity()), 1.0f);
    EXPECT_NE(w.animatedMeshes()[0].vertices(), std::vector<float>());
    EXPECT_TRUE(w.animatedTextures()[0].animation().isPlaying());
    EXPECT_GT(w.animatedTextures()[0].fade(), 0.99f);
    // A level to play: the view follows the ball, as in every other level.
    glm::vec2 const camera = w.getCamera().getPosition();
    glm::vec2 const ball = w.getPlayer().getPosition();
    EXPECT_NEAR(camera.x, ball.x, 3.0f);
    EXPECT_NEAR(camera.y, ball.y - 1.5f, 3.0f);
}

}  // namespace
