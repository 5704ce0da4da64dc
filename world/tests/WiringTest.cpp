#include <box2d/b2_body.h>
#include <box2d/b2_revolute_joint.h>
#include <gtest/gtest.h>

#include "world/tests/WorldRig.h"

using world_test::flatLevel;
using world_test::Heard;
using world_test::Rig;

namespace {

bool hidden(World& world, uint32_t drawable) {
    DrawList& list = world.drawList();
    return list.entry(list.handleRecord(drawable))->hidden != 0;
}

}  // namespace

// Each kind's ids reach the operation of the object built from the same record index.
TEST(Wiring, EveryKindsIdsReachTheirObject) {
    auto b = flatLevel();
    b.coin({5.0f, 2.0f});
    b.coin({7.0f, 2.0f});
    b.jumpPad({9.0f, 0.3f}, {1.0f, 0.3f}, {0.0f, 5.0f});
    b.jumpPad({12.0f, 0.3f}, {1.0f, 0.3f}, {0.0f, 5.0f});
    uint32_t const quad = b.quad({0.0f, 5.0f}, {1.0f, 1.0f}, glm::vec4(1.0f));
    b.animatedMesh(quad);
    auto& mesh = b.data().animatedMeshes.back();
    mesh.repeatCount = -1;
    mesh.startOffset = 0.5f;
    mesh.playSignal = 301;
    mesh.reverseSignal = 302;
    mesh.pauseSignal = 303;
    mesh.finishSignal = 304;
    mesh.rewindSignal = 305;
    b.fluid({20.0f, 1.0f}, {2.0f, 1.0f});
    b.fluid({30.0f, 1.0f}, {2.0f, 1.0f});
    b.data().fluids[1].disableSignal = 311;
    b.data().fluids[1].enableSignal = 312;
    b.signalFilter(321, 322, 323, 1, 0.0f);
    b.particleLiquid({40.0f, 3.0f}, {0.5f, 0.5f});
    b.data().particleLiquids[0].spawnSignal = 331;
    b.data().particleLiquids[0].respawnSignal = 332;
    b.data().particleLiquids[0].removeSignal = 333;
    b.animatedTexture(quad);
    auto& texture = b.data().animatedTextures.back();
    texture.visible = 0;
    texture.playSignal = 341;
    texture.showSignal = 7;
    texture.hideSignal = 9;
    uint32_t const coin1 = b.data().coins[1].triggerSignal;
    uint32_t const pad1 = b.data().jumpPads[1].triggerSignal;
    Rig rig(b.data());
    World& w = *rig.world;
    rig.frame();

    rig.raise(coin1);
    rig.raise(pad1);
    rig.raise(301);
    rig.frame();
    EXPECT_FALSE(w.coins()[0].isCollected());
    EXPECT_TRUE(w.coins()[1].isCollected());
    EXPECT_FALSE(w.jumpPads()[0].isTriggered());
    EXPECT_TRUE(w.jumpPads()[1].isTriggered());
    AnimatedValue& animation = w.animatedMeshes()[0].animation();
    EXPECT_EQ(animation.state(), AnimatedValue::Forward);
    for (auto [id, state] : {std::pair{302u, AnimatedValue::Backward}, std::pair{303u, AnimatedValue::Stopped},
                             std::pair{304u, AnimatedValue::Finished}, std::pair{305u, AnimatedValue::Stopped}}) {
        rig.raise(id);
        rig.frame();
        EXPECT_EQ(animation.state(), state) << id;
    }

    // Volumes start disabled: the first by signal 1, the second only by its own id.
    EXPECT_TRUE(w.getFluids().getVolume(0).isEnabled());
    EXPECT_FALSE(w.getFluids().getVolume(1).isEnabled());
    rig.raise(312);
    rig.raise(311);
    rig.frame();
    EXPECT_FALSE(w.getFluids().getVolume(1).isEnabled()) << "the later id wins";
    rig.raise(312);
    rig.frame();
    EXPECT_TRUE(w.getFluids().getVolume(1).isEnabled());

    // maxCount 1: a second input waits for the reset. An output raised inside a dispatch is
    // delivered by that same dispatch.
    Heard heard(&rig.events, {322});
    for (uint32_t id : {321u, 321u, 323u, 321u}) {
        rig.raise(id);
        rig.frame(20.0f, &heard);
    }
    EXPECT_EQ(heard.frames(), (std::vector<std::multiset<uint32_t>>{{322}, {}, {}, {322}}));

    EXPECT_EQ(w.physics().GetParticleCount(), 0);
    rig.raise(331);
    rig.frame();
    std::int32_t const full = w.physics().GetParticleCount();
    EXPECT_GT(full, 0);
    rig.raise(331);
    rig.frame();
    EXPECT_EQ(w.physics().GetParticleCount(), full) << "create fills only an empty liquid";
    rig.raise(332);
    rig.frames(2);
    EXPECT_EQ(w.physics().GetParticleCount(), full);
    rig.raise(333);
    rig.frames(2);
    EXPECT_EQ(w.physics().GetParticleCount(), 0);

    // Show with no activate id activates too; hide with no deactivate id deactivates.
    AnimatedTexture& t = w.animatedTextures()[0];
    rig.raise(7);
    rig.raise(341);
    rig.frame();
    EXPECT_TRUE(t.isShown() && t.isActive());
    EXPECT_TRUE(t.animation().isPlaying()) << "a once-per-signal sheet plays after its signal";
    rig.raise(9);
    rig.frame();
    EXPECT_FALSE(t.isShown() || t.isActive());
    (void)quad;
}

// Items with an enable id start outside the active list, through their disable hook; enabling
// twice adds them once, disabling what is not active does nothing.
TEST(Wiring, CulledItemsStartAndChangeThroughTheirHooks) {
    auto b = flatLevel();
    b.coin({5.0f, 2.0f});
    b.coin({7.0f, 2.0f});
    b.data().coins[0].enableSignal = 401;
    b.data().coins[0].disableSignal = 402;
    b.data().coins[1].disableSignal = 403;
    uint32_t const body = b.boxBody({3.0f, 5.0f}, {0.5f, 0.5f});
    b.data().dynamicBodies[body].enableSignal = 411;
    b.data().dynamicBodies[body].disableSignal = 412;
    uint32_t const drawable = b.data().dynamicBodies[body].drawables[0];
    b.bodyObserver(int32_t(body));
    b.data().bodyObservers[0].enableSignal = 421;
    Rig rig(b.data());
    World& w = *rig.world;

    auto& coins = w.coins();
    EXPECT_EQ(coins.active(), (std::vector<Coin*>{&coins[1]}));
    EXPECT_TRUE(w.dynamicBodies().active().empty());
    EXPECT_TRUE(hidden(w, drawable));
    EXPECT_TRUE(w.bodyObservers().active().empty());

    rig.raise(402);  // not active: nothing
    rig.raise(401);
    rig.raise(401);
    rig.raise(411);
    rig.frame();
    EXPECT_EQ(coins.active(), (std::vector<Coin*>{&coins[1], &coins[0]}));
    EXPECT_EQ(w.dynamicBodies().active().size(), 1u);
    EXPECT_FALSE(hidden(w, drawable));

    rig.raise(403);
    rig.raise(412);
    rig.frame();
    EXPECT_EQ(coins.active(), (std::vector<Coin*>{&coins[0]}));
    EXPECT_TRUE(hidden(w, drawable));
    b2Body* physical = w.dynamicBodies()[body].getBody();
    float const y = physical->GetPosition().y;
    rig.frames(5);
    EXPECT_LT(physical->GetPosition().y, y) << "a disabled body still simulates";
}

TEST(Wiring, CheckPointsAreTakenOnlyInIndexOrder) {
    auto b = flatLevel();
    b.checkPoint({10.0f, 1.0f});
    b.checkPoint({20.0f, 1.0f});
    auto const& points = b.data().checkPoints;
    uint32_t const reach1 = points[1].reachSignal;
    uint32_t const reach2 = points[2].reachSignal;
    Rig rig(b.data());
    World& w = *rig.world;
    auto current = [&] { return w.getPlayer().getCheckPoint()->index; };
    for (auto [reach, expected] : {std::pair{reach2, 0u}, std::pair{reach1, 1u}, std::pair{reach1, 1u},
                                   std::pair{reach2, 2u}, std::pair{reach1, 2u}}) {
        rig.raise(reach);
        rig.frame();
        EXPECT_EQ(current(), expected);
    }
}

TEST(Wiring, FixedIdsReachThePlayerAndTheClock) {
    Rig rig(flatLevel().data());
    Player::Player& player = rig.world->getPlayer();
    player.setControlsReversed(true);
    rig.raise(20000004);
    rig.raise(20000006);
    rig.frame();
    EXPECT_FALSE(player.controlsReversed());
    EXPECT_TRUE(player.verticalJump());
    rig.raise(20000007);
    rig.frame();
    EXPECT_FALSE(player.verticalJump());
    rig.raise(20000014);
    rig.frame();
    EXPECT_TRUE(rig.world->getCamera().endSequenceStarted());
}

// A check point, a filter, a delayed signal and a joint transition chained by their ids give the
// same trace, frame by frame, in every run; ids of one frame are compared as a set.
TEST(Wiring, ASignalTraceMatchesAcrossFramesAndRuns) {
    auto b = flatLevel();
    b.checkPoint({10.0f, 1.0f});
    uint32_t const reach = b.data().checkPoints[1].reachSignal;
    uint32_t const x = b.signal();
    uint32_t const y = b.signal();
    uint32_t const z = b.signal();
    b.signalFilter(x, y, 0, -1, 100.0f);
    b.delayedSignal(y, z, 50.0f);
    uint32_t const body = b.boxBody({20.0f, 5.0f}, {1.0f, 0.1f});
    PristineLevel::RevoluteJoint hinge;
    hinge.def.bodyA = -1;
    hinge.def.bodyB = int32_t(body);
    hinge.def.localAnchorA = {20.0f, 5.0f};
    hinge.def.enableLimit = true;
    hinge.def.lowerAngle = -0.5f;
    hinge.def.upperAngle = 0.5f;
    RevoluteJointState open;
    open.signal = z;
    open.interrupt = 1;
    open.lowerAngle = InterpolatedFloat{-1.0f, 0.001f};
    hinge.states.push_back(open);
    b.joint(hinge);

    auto run = [&](std::vector<std::multiset<uint32_t>>& trace, std::vector<uint32_t>& checkPoint) {
        Rig rig(b.data());
        Heard heard(&rig.events, {x, y, z, reach});
        for (int frame = 0; frame < 14; ++frame) {
            if (frame >= 2 && frame <= 10) {
                rig.raise(x);
            }
            if (frame == 3) {
                rig.raise(reach);
            }
            rig.frame(20.0f, &heard);
            checkPoint.push_back(rig.world->getPlayer().getCheckPoint()->index);
        }
        trace = heard.frames();
        EXPECT_LT(static_cast<b2RevoluteJoint*>(rig.world->joints()[0])->GetLowerLimit(), -0.5f);
    };
    std::vector<std::multiset<uint32_t>> first;
    std::vector<std::multiset<uint32_t>> second;
    std::vector<uint32_t> points;
    std::vector<uint32_t> pointsAgain;
    run(first, points);
    run(second, pointsAgain);
    EXPECT_EQ(first, second);
    EXPECT_EQ(points, pointsAgain);

    using Set = std::multiset<uint32_t>;
    std::vector<Set> const expected = {{},     {},  {x, y}, {x, reach}, {x}, {x, z}, {x}, {x, y},
                                       {x},    {x}, {x, z}, {},         {},  {}};
    EXPECT_EQ(first, expected);
    EXPECT_EQ(points, (std::vector<uint32_t>{0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
}
