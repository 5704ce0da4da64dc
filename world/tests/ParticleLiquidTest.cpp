#include <gtest/gtest.h>

#include "level/LevelReader.h"
#include "world/tests/WorldRig.h"

using world_test::flatLevel;
using world_test::Rig;

namespace {

// A 1 x 1 m liquid high above the ground at x = 10, poured by 401, refilled by 402, drained by 403;
// more liquids take the next three ids each.
levels::LevelBuilder liquidLevel(int liquids = 1, glm::vec2 halfSize = {0.5f, 0.5f}) {
    auto b = flatLevel();
    for (int i = 0; i < liquids; ++i) {
        b.particleLiquid({10.0f + 5.0f * float(i), 3.0f}, i == 0 ? halfSize : glm::vec2(0.5f, 0.5f));
        auto& liquid = b.data().particleLiquids.back();
        liquid.spawnSignal = 401 + 3 * uint32_t(i);
        liquid.respawnSignal = 402 + 3 * uint32_t(i);
        liquid.removeSignal = 403 + 3 * uint32_t(i);
    }
    return b;
}

}  // namespace

TEST(ParticleLiquid, CreateRefillAndDrainKeepTheCounts) {
    auto b = liquidLevel();
    Rig rig(b.data());
    PhysicsWorld& physics = rig.world->physics();
    ParticleLiquid& liquid = rig.world->particleLiquids()[0];
    rig.frame();
    rig.raise(402);
    rig.raise(403);
    rig.frame();
    EXPECT_EQ(physics.GetParticleCount(), 0) << "refill and drain need a group";
    EXPECT_EQ(liquid.group(), nullptr);

    rig.raise(401);
    rig.frame();
    std::int32_t const full = physics.GetParticleCount();
    ASSERT_GT(full, 50);
    EXPECT_EQ(physics.GetParticleGroupCount(), 1);
    rig.raise(401);
    rig.frame();
    EXPECT_EQ(physics.GetParticleCount(), full);

    // Two refills in one frame: one fresh group.
    rig.frames(30);
    rig.raise(402);
    rig.raise(402);
    rig.frames(2);
    EXPECT_EQ(physics.GetParticleCount(), full);
    EXPECT_EQ(physics.GetParticleGroupCount(), 1);
    ASSERT_NE(liquid.group(), nullptr);
    EXPECT_EQ(liquid.group()->GetParticleCount(), full);

    rig.raise(403);
    rig.raise(403);
    rig.frames(2);
    EXPECT_EQ(physics.GetParticleCount(), 0);
    EXPECT_EQ(physics.GetParticleGroupCount(), 0);
    rig.raise(401);
    rig.frames(2);
    EXPECT_EQ(physics.GetParticleCount(), full) << "a drain then a create pours a new one";
}

// At the maximum count the new group only has room once the old particles' slots count as free;
// without that it comes out empty, the solver frees it and the liquid keeps a freed pointer.
TEST(ParticleLiquid, ALiquidAsLargeAsTheMaximumRefillsWhole) {
    std::int32_t full = 0;
    {
        auto b = liquidLevel();
        Rig rig(b.data());
        rig.raise(401);
        rig.frame();
        full = rig.world->physics().GetParticleCount();
    }
    ASSERT_GT(full, 0);
    auto b = liquidLevel();
    b.data().metaData.particleMaxCount = uint32_t(full);
    Rig rig(b.data());
    ParticleLiquid& liquid = rig.world->particleLiquids()[0];
    rig.raise(401);
    rig.frames(10);
    for (int round = 0; round < 3; ++round) {
        rig.raise(402);
        rig.frames(3);
        ASSERT_NE(liquid.group(), nullptr) << "round " << round;
        EXPECT_EQ(liquid.group()->GetParticleCount(), full);
        EXPECT_EQ(rig.world->physics().GetParticleCount(), full);
    }
    rig.raise(402);
    rig.raise(403);
    rig.frames(2);
    EXPECT_EQ(rig.world->physics().GetParticleCount(), 0);
    EXPECT_EQ(liquid.group(), nullptr);
}

// A shape between lattice points pours an empty group, which the solver frees at the next
// removal; the liquid must hear of it before its next refill or drain.
TEST(ParticleLiquid, AnEmptyGroupFreedByTheSolverIsForgotten) {
    auto b = liquidLevel(2, {0.01f, 0.01f});
    Rig rig(b.data());
    ParticleLiquid& empty = rig.world->particleLiquids()[0];
    rig.raise(401);
    rig.raise(404);
    rig.frame();
    ASSERT_NE(empty.group(), nullptr);
    EXPECT_EQ(empty.group()->GetParticleCount(), 0);
    rig.raise(406);  // the other liquid drains, so the next step removes particles
    rig.frames(2);
    EXPECT_EQ(empty.group(), nullptr);
    rig.raise(402);
    rig.raise(403);
    rig.frames(2);
    rig.raise(401);
    rig.raise(403);
    rig.frames(2);
    EXPECT_EQ(empty.group(), nullptr);

    // No polygon at all: never a group.
    auto none = liquidLevel();
    none.data().particleLiquids[0].shapes.clear();
    Rig noShape(none.data());
    noShape.raise(401);
    noShape.frame();
    EXPECT_EQ(noShape.world->particleLiquids()[0].group(), nullptr);
    EXPECT_EQ(noShape.world->physics().GetParticleGroupCount(), 0);
}

TEST(ParticleLiquid, PoursOntoTheGroundAndTheSoundFollowsItsMeanPosition) {
    auto b = liquidLevel();
    Rig rig(b.data());
    ASSERT_TRUE(rig.world->hasLiquidSound());
    rig.raise(401);
    rig.frame();
    PhysicsWorld& physics = rig.world->physics();
    auto mean = [&] {
        glm::vec2 sum(0.0f);
        for (std::int32_t i = 0; i < physics.GetParticleCount(); ++i) {
            sum += glm::vec2(physics.GetParticlePositionBuffer()[i].x, physics.GetParticlePositionBuffer()[i].y);
        }
        return sum / float(physics.GetParticleCount());
    };
    float const start = mean().y;
    rig.frames(120);
    glm::vec2 const settled = mean();
    EXPECT_LT(settled.y, start - 1.5f);
    EXPECT_GT(settled.y, 0.0f) << "the ground holds it";
    glm::vec2 const heard = rig.world->getGoldParticles().averagePosition();
    EXPECT_NEAR(heard.x, settled.x, 1e-3f);
    EXPECT_NEAR(heard.y, settled.y, 1e-3f);
}

// The sample level's liquid, from the built data archive: poured when the level is built, it
// settles in its cup and drains on its signal. Its particles come first; the sampler's bodies
// made of particles follow them.
TEST(ParticleLiquid, TheSamplersLiquidPoursPilesInItsCupAndDrains) {
    world_test::mountSampleData();
    auto const file = Singleton<FileSystem>::instance().open("levels/sampler.pxl");
    ASSERT_TRUE(file && file->size() > 0);
    PristineLevel::Data level;
    loadPristineLevel(level, file->data(), file->size());
    ASSERT_EQ(level.particleLiquids.size(), 3u);
    uint32_t const drain = level.particleLiquids[0].removeSignal;
    Rig rig(std::move(level));
    PhysicsWorld& physics = rig.world->physics();
    rig.frame();
    ParticleGroup const* gold = rig.world->particleLiquids()[0].group();
    ASSERT_NE(gold, nullptr);
    std::int32_t const full = gold->GetParticleCount(), all = physics.GetParticleCount();
    ASSERT_GT(full, 300);
    ASSERT_EQ(gold->GetBufferIndex(), 0);
    rig.frames(180, 1000.0f / 60.0f);
    ASSERT_EQ(physics.GetParticleCount(), all);
    float top = 0.0f;
    for (std::int32_t i = 0; i < full; ++i) {
        b2Vec2 const p = physics.GetParticlePositionBuffer()[i];
        ASSERT_TRUE(p.x > 119.75f && p.x < 124.25f && p.y > 2.75f && p.y < 6.0f) << i << " at " << p.x << ", " << p.y;
        top = std::max(top, p.y);
    }
    EXPECT_LT(top, 4.0f) << "spread over the cup's floor";
    rig.raise(drain);
    rig.frames(2);
    EXPECT_EQ(physics.GetParticleCount(), all - full);
}

TEST(ParticleLiquid, ThePlayerDiesOnFirstTouchingTheLiquid) {
    auto b = flatLevel();
    b.particleLiquid({0.0f, 5.0f}, {0.6f, 0.6f});
    b.data().particleLiquids[0].spawnSignal = 1;
    Rig rig(b.data());
    Player::Player& player = rig.world->getPlayer();
    PhysicsWorld& physics = rig.world->physics();
    int touched = -1;
    int died = -1;
    for (int frame = 0; frame < 240 && died < 0; ++frame) {
        rig.frame(1000.0f / 60.0f);
        for (std::int32_t i = 0; i < physics.GetParticleBodyContactCount() && touched < 0; ++i) {
            if (physics.GetParticleBodyContacts()[i].body == player.getBody()) {
                touched = frame;
            }
        }
        if (!player.isAlive()) {
            died = frame;
        }
    }
    ASSERT_GE(touched, 0) << "the liquid never reached the player";
    EXPECT_GE(died, touched);
    EXPECT_LE(died, touched + 3);
    EXPECT_GT(touched, 10) << "it fell first";
}
