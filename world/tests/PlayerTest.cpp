#include <box2d/b2_body.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "level/LevelCatalog.h"
#include "save/RoamingDataFile.h"
#include "world/HardcoreRunTime.h"
#include "world/tests/WorldRig.h"

using world_test::Heard;
using world_test::Rig;

namespace {

levels::LevelBuilder longLevel(float groundEnd = 300.0f) {
    levels::LevelBuilder b;
    b.ground({{-20.0f, 0.0f}, {groundEnd, 0.0f}}, -10.0f, glm::vec4(1.0f));
    b.checkPoint({0.0f, 0.4f});
    return b;
}

b2Body* body(Rig& rig) { return rig.world->getPlayer().getBody(); }

// The ids heard in delivery order.
struct Ordered {
    std::vector<uint32_t> ids;
    std::vector<SlotCallbackRef> slots;
    Ordered(EventHandler* events, std::vector<uint32_t> const& wanted) {
        slots.reserve(wanted.size());
        for (uint32_t id : wanted) {
            slots.emplace_back(events, id, [this, id] { ids.push_back(id); });
        }
    }
};

}  // namespace

// Rolling right tops out near 7 m/s; held long enough at speed, the boost raises the top speed
// toward 11.4.
TEST(PlayerMovement, RollingTopsOutAndBoosts) {
    Rig rig(longLevel().data());
    rig.frames(10);
    rig.input.right = 1;
    float atOneSecond = 0.0f;
    float fastest = 0.0f;
    for (int i = 0; i < 300; ++i) {
        rig.frame(20.0f);
        float const vx = body(rig)->GetLinearVelocity().x;
        if (i == 40) {
            atOneSecond = vx;
        }
        fastest = std::max(fastest, vx);
    }
    EXPECT_GT(atOneSecond, 6.0f);
    EXPECT_LT(atOneSecond, 8.0f);
    EXPECT_GT(fastest, 10.0f);
    EXPECT_LT(fastest, 11.8f);
    EXPECT_TRUE(rig.world->getPlayer().isGrounded());
}

// The last ground is remembered for 64 ms: a jump 60 ms after rolling off a ledge still takes
// off, one 100 ms after does not.
TEST(PlayerMovement, AJumpJustAfterALedgeStillLaunches) {
    for (auto [wait, launches] : {std::pair{3, true}, std::pair{5, false}}) {
        Rig rig(longLevel(3.0f).data());
        rig.frames(10);
        rig.input.right = 1;
        int airborne = -1;
        for (int i = 0; i < 200 && airborne < 0; ++i) {
            rig.frame(20.0f);
            if (body(rig)->GetPosition().x > 3.0f && body(rig)->GetContactList() != nullptr &&
                !rig.world->getPlayer().isGrounded()) {
                airborne = i;
            }
        }
        ASSERT_GE(airborne, 0);
        rig.input = ControlSchemeInputState();
        rig.frames(wait - 1, 20.0f);
        rig.input.jump = 1;
        rig.frame(20.0f);
        EXPECT_EQ(body(rig)->GetLinearVelocity().y > 3.0f, launches) << "jump " << wait * 20 << " ms after leaving";
    }
}

// A fresh dive press in the air sets the fall to 8 m/s at most once per 500 ms.
TEST(PlayerMovement, TheDiveKickFiresAtMostOncePer500Ms) {
    auto b = longLevel();
    b.data().checkPoints[0].respawnPosition = {0.0f, 200.0f};
    Rig rig(b.data());
    int kicks = 0;
    for (int i = 0; i < 50; ++i) {
        rig.input.dive = i % 2 == 0 ? 1 : 0;
        float const before = body(rig)->GetLinearVelocity().y;
        rig.frame(20.0f);
        kicks += body(rig)->GetLinearVelocity().y < before - 4.0f ? 1 : 0;
    }
    EXPECT_EQ(kicks, 2) << "1000 ms of presses";
}

// Wedged between two walls, the character cannot inflate, and with jump held it hangs there.
TEST(PlayerMovement, WedgedBetweenTwoWallsItHangs) {
    auto b = longLevel();
    b.data().checkPoints[0].respawnPosition = {40.0f, 10.0f};
    b.data().staticShapes.push_back(levels::chainShape({{39.5f, 5.0f}, {39.5f, 15.0f}}, levels::Fixture{}));
    b.data().staticShapes.push_back(levels::chainShape({{40.5f, 15.0f}, {40.5f, 5.0f}}, levels::Fixture{}));
    b.data().checkPoints.push_back(CheckPoint{{80.0f, 10.0f}, 1, 0, {}});
    Rig rig(b.data());
    rig.input.jump = 1;
    rig.frames(50, 20.0f);
    EXPECT_GT(body(rig)->GetPosition().y, 9.0f) << "hanging";
    EXPECT_LT(rig.world->getPlayer().currentInnerRadius(), 0.54f);
    // In the open the same press inflates and falls.
    rig.world->getPlayer().resetTo({80.0f, 10.0f});
    rig.frames(50, 20.0f);
    EXPECT_LT(body(rig)->GetPosition().y, 9.0f);
    EXPECT_FLOAT_EQ(rig.world->getPlayer().currentInnerRadius(), Player::maxInnerRadius);
}

// A deadly fixture kills: play is held, the player goes back to its check point with the check
// point's six ids in order, play resumes, one death is counted, and moves stay blocked until
// 250 ms after the fade.
TEST(PlayerDeath, ADeadlyFixtureKillsAndThePlayerRespawns) {
    auto b = longLevel();
    levels::Fixture spikes = levels::sensorFixture();
    spikes.category = levels::deadlyCategory;
    b.data().signalShapes.push_back(levels::boxShape({6.0f, 0.5f}, {0.5f, 0.5f}, spikes));
    b.data().checkPoints[0].respawnSignals = {921, 922, 0, 924, 925, 926};
    Rig rig(b.data());
    Ordered order(&rig.events, {20000002, 921, 922, 924, 925, 926, 20000003});
    rig.input.right = 1;
    int deathFrame = -1;
    for (int i = 0; i < 100 && deathFrame < 0; ++i) {
        rig.frame(20.0f);
        if (!rig.world->getPlayer().isAlive()) {
            deathFrame = i;
        }
    }
    ASSERT_GE(deathFrame, 0);
    rig.world->getPlayer().kill();  // during the respawn: nothing
    rig.frames(6, 20.0f);
    EXPECT_TRUE(rig.world->getPlayer().isAlive());
    EXPECT_EQ(order.ids, (std::vector<uint32_t>{20000002, 921, 922, 924, 925, 926, 20000003}));
    EXPECT_EQ(rig.world->getPlayer().getDeathCount(), 1u);
    EXPECT_NEAR(body(rig)->GetPosition().x, 0.0f, 0.1f);
    rig.frames(10, 20.0f);  // 200 ms: still blocked
    EXPECT_NEAR(body(rig)->GetLinearVelocity().x, 0.0f, 0.05f);
    rig.frames(5, 20.0f);
    EXPECT_GT(body(rig)->GetLinearVelocity().x, 0.5f);

    Rig hardcore(longLevel().data(), GameMode::Hardcore);
    hardcore.world->getPlayer().kill();
    hardcore.frames(6, 20.0f);
    EXPECT_EQ(hardcore.world->getPlayer().getDeathCount(), 0u);
    EXPECT_TRUE(hardcore.world->getPlayer().isAlive()) << "without a level index the player respawns";
    EXPECT_EQ(hardcore.world->getPlayer().tint(), glm::vec4(64.0f / 255.0f, 222.0f / 255.0f, 207.0f / 255.0f, 1.0f))
        << "no finished hardcore run in the save record";

    // In a catalog level the death ends the run: once, as alternative 4 with the run's time and
    // the levels done, to be retried from the first level.
    std::vector<std::pair<TriggerVariant, std::string>> ends;
    HardcoreRunTime::total = 1000.0f;
    Rig run(longLevel().data(), GameMode::Hardcore,
            [&](TriggerVariant const& result, std::string const& path, std::string const&) { ends.emplace_back(result, path); },
            3ul);
    run.frames(5, 20.0f);
    run.world->getPlayer().kill();
    run.world->getPlayer().kill();
    run.frames(6, 20.0f);
    ASSERT_EQ(ends.size(), 1u);
    ASSERT_EQ(ends[0].first.which(), 4);
    auto const& failed = boost::get<ResultsMenu::HardcoreFailedGameModeTriggerParameters>(ends[0].first);
    EXPECT_FLOAT_EQ(failed.runTime, 1100.0f);
    EXPECT_EQ(failed.levelsCompleted, uint64_t(LevelCatalog::indexInMode(3, GameMode::Normal)));
    EXPECT_EQ(failed.levelCount, LevelCatalog::countOfMode(GameMode::Normal));
    EXPECT_EQ(ends[0].second, LevelCatalog::entry(0).path);
    EXPECT_EQ(run.world->getPlayer().getDeathCount(), 0u);
    HardcoreRunTime::total = 0.0f;
}

// A closed lap path counts loops; skipping more than two points ahead is ignored; fewer than two
// points or a last distance of 0 count nothing.
TEST(PlayerLaps, AClosedPathCountsLoops) {
    std::vector<PristineLevel::PathNode> square;
    glm::vec2 const corners[] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};
    float distance = 0.0f;
    for (int i = 0; i < 5; ++i) {
        if (i > 0) {
            distance += glm::length(corners[i] - corners[i - 1]);
        }
        square.push_back(PristineLevel::PathNode{corners[i], {}, {}, distance});
    }
    Player::LapTracker laps{std::vector<PristineLevel::PathNode>(square)};
    for (int lap = 0; lap < 2; ++lap) {
        for (glm::vec2 p : {glm::vec2(5, 0), glm::vec2(10, 5), glm::vec2(5, 10), glm::vec2(0, 5), glm::vec2(0, 1)}) {
            laps.update(p);
        }
        laps.update(glm::vec2(5, 0.1f));
    }
    EXPECT_EQ(laps.laps(), 2u);

    Player::LapTracker skipping{std::vector<PristineLevel::PathNode>(square)};
    skipping.update(glm::vec2(0.1f, 5));  // the last segment at once: more than two ahead
    EXPECT_FLOAT_EQ(skipping.fraction(), 0.0f);
    skipping.update(glm::vec2(5, 0));
    EXPECT_NEAR(skipping.fraction(), 0.125f, 1e-4f);

    Player::LapTracker one{std::vector<PristineLevel::PathNode>{square[0]}};
    one.update(glm::vec2(5, 0));
    std::vector<PristineLevel::PathNode> flat = square;
    flat.back().distance = 0.0f;
    Player::LapTracker zero{std::move(flat)};
    zero.update(glm::vec2(5, 0));
    EXPECT_FLOAT_EQ(one.fraction() + zero.fraction(), 0.0f);
}

// The outline rests on the ground in the shape of the disc, and a respawn rebuilds it round the
// check point with no rim point left behind.
TEST(PlayerAppearance, TheOutlineKeepsItsShapeAndRebuildsOnRespawn) {
    Rig rig(longLevel().data());
    rig.frames(60, 20.0f);
    Player::Player& player = rig.world->getPlayer();
    glm::vec2 const c = player.outline().centroid();
    for (glm::vec2 p : player.outline().points()) {
        EXPECT_GT(p.y, -0.03f) << "no rim point sinks into the ground";
        EXPECT_NEAR(glm::length(p - c), Player::outerRadius, 0.15f);
    }
    player.resetTo({30.0f, 5.0f});
    EXPECT_NEAR(player.outline().centroid().x, 30.0f, 1e-4f);
    for (glm::vec2 p : player.outline().points()) {
        EXPECT_NEAR(glm::length(p - glm::vec2(30.0f, 5.0f)), Player::outerRadius, 1e-4f);
    }
    player.updatePose();
    EXPECT_NEAR(player.outline().fan()[0].position.x, 30.0f, 1e-4f);
}

// The outline through a scripted run (rolling, jumping, diving on the ground and in the air, a
// box in the way) matches, bit for bit, the run recorded when its rim was stepped one point
// after another: speeding the rim up must not change how it looks.
TEST(PlayerAppearance, TheOutlineFollowsARecordedRunToTheBit) {
    levels::LevelBuilder b = longLevel();
    b.boxBody({6.0f, 0.3f}, {0.3f, 0.3f}, PristineLevel::BodyDef::staticBody);
    Rig rig(b.data());
    uint64_t hash = 1469598103934665603ull;
    for (int i = 0; i < 600; ++i) {
        int const phase = i / 50;
        rig.input = ControlSchemeInputState(phase % 3 == 1, phase % 4 == 3, phase % 4 != 3, phase % 5 == 2, 1.0f);
        rig.frame(16.0f);
        for (glm::vec2 p : rig.world->getPlayer().outline().points()) {
            for (float v : {p.x, p.y}) {
                uint32_t bits;
                std::memcpy(&bits, &v, sizeof bits);
                hash = (hash ^ bits) * 1099511628211ull;
            }
        }
    }
    EXPECT_EQ(hash, 1132414947838813207ull);
}

// Resting eyes blink after 2 s, then at intervals the seed decides; inflating past an inner
// radius of 0.4624 switches to the big eyes and cancels a blink; steering turns the eyes.
TEST(PlayerAppearance, BlinkingRunsFromItsSeed) {
    auto blinks = [](uint32_t seed) {
        Player::Face face(nullptr, seed);
        std::vector<int> starts;
        bool was = false;
        for (int i = 0; i < 1000; ++i) {
            face.update(ControlSchemeInputState(), 20.0f, Player::outerRadius);
            if (face.isBlinking() && !was) {
                starts.push_back(i);
            }
            was = face.isBlinking();
        }
        return starts;
    };
    std::vector<int> const a = blinks(7);
    ASSERT_GE(a.size(), 4u);
    EXPECT_EQ(a, blinks(7));
    EXPECT_EQ(a[0], 100) << "the first after 2000 ms";
    // From one blink's start to the next: the blink itself (about 200 ms), then the interval
    // (500 ms, or 2000 to 4000 ms).
    for (std::size_t i = 1; i < a.size(); ++i) {
        int const gap = (a[i] - a[i - 1]) * 20;
        EXPECT_TRUE((gap >= 600 && gap <= 800) || (gap >= 2100 && gap <= 4300)) << gap;
    }

    Player::Face face(nullptr, 7);
    for (int i = 0; i < 101; ++i) {
        face.update(ControlSchemeInputState(), 20.0f, Player::outerRadius);
    }
    ASSERT_TRUE(face.isBlinking());
    face.update(ControlSchemeInputState(), 20.0f, 1.5f * 0.47f);
    EXPECT_TRUE(face.bigEyes());
    EXPECT_FALSE(face.isBlinking());
    ControlSchemeInputState left;
    left.left = 1;
    face.update(left, 100.0f, Player::outerRadius);
    EXPECT_NEAR(face.eyeFrame(), 6.0f, 1e-3f);
}

// Hovering: after a launch, holding jump hovers only after 500 ms; a first press in the air
// while falling hovers at once.
TEST(PlayerMovement, HoveringWaitsAfterALaunchButNotAfterAFall) {
    Rig rig(longLevel().data());
    rig.frames(20, 20.0f);
    rig.input.jump = 1;
    std::vector<bool> hovering;
    for (int i = 0; i < 60; ++i) {
        rig.frame(20.0f);
        hovering.push_back(rig.world->getPlayer().isHovering());
    }
    auto const first = std::find(hovering.begin(), hovering.end(), true);
    ASSERT_NE(first, hovering.end());
    EXPECT_GE((first - hovering.begin()) * 20, 500) << "not before 500 ms of holding";

    auto high = longLevel();
    high.data().checkPoints[0].respawnPosition = {0.0f, 30.0f};
    Rig falling(high.data());
    falling.frames(5, 20.0f);
    falling.input.jump = 1;
    falling.frame(20.0f);
    EXPECT_TRUE(falling.world->getPlayer().isHovering());
    falling.frames(30, 20.0f);
    EXPECT_NEAR(body(falling)->GetLinearVelocity().y, -1.9f, 0.2f) << "a hover falls at 1.9 m/s";
}

// Low-grip ground accelerates far less than ordinary ground.
TEST(PlayerMovement, LowGripGroundIsSlowToGetGoing) {
    auto speedAfter = [](uint16_t category) {
        levels::LevelBuilder b;
        levels::Fixture ground;
        ground.category = category;
        b.data().staticShapes.push_back(levels::chainShape({{-20.0f, 0.0f}, {300.0f, 0.0f}}, ground));
        b.checkPoint({0.0f, 0.4f});
        Rig rig(b.data());
        rig.frames(10, 20.0f);
        rig.input.right = 1;
        rig.frames(10, 20.0f);
        return body(rig)->GetLinearVelocity().x;
    };
    float const ordinary = speedAfter(levels::solidCategory);
    float const lowGrip = speedAfter(0x0008);
    EXPECT_GT(ordinary, 1.5f);
    EXPECT_LT(lowGrip, ordinary * 0.3f);
}

// A magnetic surface holds the player against it, even overhead.
TEST(PlayerMovement, MagnetsHoldThePlayer) {
    auto b = longLevel();
    b.data().checkPoints[0].respawnPosition = {50.0f, 9.64f};  // the inner circle touches it
    uint32_t const ceiling =
        b.dynamicBody({50.0f, 10.5f}, levels::boxShape({0.0f, 0.0f}, {3.0f, 0.5f}, levels::Fixture{}),
                      PristineLevel::BodyDef::staticBody);
    b.data().dynamicBodies[ceiling].bodyDef.userData = 8;
    Rig rig(b.data());
    rig.frames(120, 20.0f);
    EXPECT_GT(body(rig)->GetPosition().y, 9.3f);

    auto plain = longLevel();
    plain.data().checkPoints[0].respawnPosition = {50.0f, 9.64f};
    plain.dynamicBody({50.0f, 10.5f}, levels::boxShape({0.0f, 0.0f}, {3.0f, 0.5f}, levels::Fixture{}),
                      PristineLevel::BodyDef::staticBody);
    Rig without(plain.data());
    without.frames(120, 20.0f);
    EXPECT_LT(body(without)->GetPosition().y, 2.0f);
}

// The tint is red once the save record holds a finished hardcore run.
TEST(PlayerAppearance, TheTintFollowsTheSaveRecord) {
    testing_support::TempDir documents;
    setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
    {
        RoamingDataFile save("roamingData");
        save.data.setHardcoreBestTime(123456);
    }
    EventHandler events;
    auto level = longLevel();
    World world(nullptr, nullptr, &events, std::move(level.data()), nullptr, GameMode::Normal, boost::none);
    EXPECT_EQ(world.getPlayer().tint(), glm::vec4(1.0f, 0.22f, 0.22f, 1.0f));
    unsetenv("ZELV_DOCUMENTS_DIR");
}

// On a carrier (body flag 4) the top speed counts relative to the carrier's motion.
TEST(PlayerMovement, ACarriersVelocityIsAdded) {
    auto speedOn = [](int32_t flags) {
        auto b = longLevel();
        b.data().checkPoints[0].respawnPosition = {0.0f, 1.45f};
        uint32_t const platform = b.dynamicBody({50.0f, 0.5f}, levels::boxShape({0.0f, 0.0f}, {100.0f, 0.5f}, levels::Fixture{}),
                                                PristineLevel::BodyDef::kinematicBody);
        b.data().dynamicBodies[platform].bodyDef.linearVelocity = {3.0f, 0.0f};
        b.data().dynamicBodies[platform].bodyDef.userData = flags;
        Rig rig(b.data());
        rig.frames(10, 20.0f);
        rig.input.right = 1;
        rig.frames(45, 20.0f);
        return body(rig)->GetLinearVelocity().x;
    };
    float const carried = speedOn(4);
    float const plain = speedOn(0);
    EXPECT_NEAR(carried - plain, 3.0f, 1.0f);
}

// Fully under swimmable water the player floats up slowly; after 1000 ms of full submersion,
// holding jump swims up hard.
TEST(PlayerMovement, ThePlayerSwimsUpAfterASecondUnderWater) {
    auto b = longLevel();
    b.data().checkPoints[0].respawnPosition = {0.0f, 10.0f};
    b.fluid({0.0f, 20.0f}, {10.0f, 20.0f});
    Rig rig(b.data());
    rig.input.jump = 1;
    float before = 0.0f;
    for (int i = 0; i < 45; ++i) {
        rig.frame(20.0f);
        if (i == 44) {
            before = body(rig)->GetLinearVelocity().y;
        }
    }
    rig.frames(30, 20.0f);
    float const after = body(rig)->GetLinearVelocity().y;
    EXPECT_GT(before, 0.0f) << "buoyancy lifts";
    EXPECT_LT(before, 4.0f);
    EXPECT_GT(after, before + 2.0f) << "swimming up";
}

// Rolling round the inside of a ring, the controls reverse on the ceiling reached from the floor
// and clear when the keys are released.
TEST(PlayerMovement, ALoopCeilingReversesTheControls) {
    levels::LevelBuilder b;
    std::vector<glm::vec2> ring;
    for (int i = 0; i <= 48; ++i) {
        float const a = float(i) * 6.2831853f / 48.0f - 1.5707963f;
        ring.push_back(glm::vec2(20.0f, 4.0f) + 4.0f * glm::vec2(std::cos(a), std::sin(a)));
    }
    b.data().staticShapes.push_back(levels::chainShape(ring, levels::Fixture{}));
    b.checkPoint({20.0f, 0.4f});
    Rig rig(b.data());
    rig.frames(5, 20.0f);
    body(rig)->SetLinearVelocity(b2Vec2(10.0f, 0.0f));
    rig.input.right = 1;
    bool reversed = false;
    for (int i = 0; i < 120 && !reversed; ++i) {
        rig.frame(20.0f);
        reversed = rig.world->getPlayer().controlsReversed();
    }
    EXPECT_TRUE(reversed);
    rig.input = ControlSchemeInputState();
    rig.frame(20.0f);
    EXPECT_FALSE(rig.world->getPlayer().controlsReversed());
}
