#include <box2d/b2_chain_shape.h>
#include <box2d/b2_circle_shape.h>
#include <box2d/b2_edge_shape.h>
#include <box2d/b2_polygon_shape.h>
#include <gtest/gtest.h>

#include "level/Fixtures.h"
#include "level/LevelReader.h"
#include "tools/datatool/LevelBuilder.h"

using levels::LevelBuilder;

namespace {

FixtureSettings settingsOf(std::vector<PackedShape> const& shapes, std::size_t index) {
    FixtureSettings settings;
    std::uint32_t type = 0;
    EXPECT_TRUE(packedShapeType(shapes[index], type));
    b2PolygonShape polygon;
    b2CircleShape circle;
    b2EdgeShape edge;
    b2ChainShape chain;
    b2Shape* const byType[] = {&circle, &edge, &polygon, &chain};
    EXPECT_TRUE(type < 4 && decodePackedShape(shapes, index, *byType[type], settings));
    return settings;
}

}  // namespace

TEST(LevelBuilder, EveryRecordKindSurvivesAPxlRoundTrip) {
    LevelBuilder b;
    b.ground({{-10, 0}, {30, 0}}, -10, glm::vec4(1));
    b.checkPoint({-5, 1});
    b.checkPoint({10, 1});
    b.coin({3, 2});
    b.goal({25, 2}, {1, 2});
    uint32_t const body = b.boxBody({5, 3}, {0.5f, 0.5f});
    uint32_t const other = b.dynamicBody({8, 3}, levels::circleShape({0, 0}, 0.5f, levels::Fixture{}));
    PristineLevel::RevoluteJoint hinge;
    hinge.def.bodyA = -1;
    hinge.def.bodyB = int32_t(body);
    b.joint(hinge, b.signal());
    b.delayedSignal(b.signal(), b.signal(), 250.0f);
    b.signalFilter(b.signal(), b.signal(), 0, 2, 1000.0f);
    b.triggerableSound("audio/a.wav", b.signal(), b.signal(), int32_t(other), 100.0f, 200.0f);
    b.cameraShaker({1, 1}, b.signal(), b.signal(), 500.0f);
    b.bodyObserver(int32_t(other));
    b.fluid({12, 1}, {2, 1});
    b.particleLiquid({15, 3}, {1, 1});
    b.animatedBody(body, PristineLevel::Keyframes({PristineLevel::Keyframe{}}, PristineLevel::WrapMode::Clamp));
    uint32_t const quad = b.quad({0, 5}, {1, 1}, glm::vec4(1));
    b.animatedTexture(quad);
    b.animatedMesh(quad);
    b.facingMesh({quad}, glm::vec3(0, 5, 0));
    b.jumpPad({18, 0.3f}, {1, 0.3f}, {0, 5});
    b.cameraZone({20, 4}, {4, 4}, {2, 0});
    b.musicNode({-5, 1}, 0, 0.8f, 0.5f, 0.5f);

    std::vector<uint8_t> const file = b.pxl();
    PristineLevel::Data read;
    PristineLevel::loadPristineLevel(read, file.data(), file.size());
    EXPECT_TRUE(read == b.data());
    EXPECT_EQ(read.dynamicBodies.size(), 2u);
    EXPECT_EQ(read.drawableGroups.size(), 1u);
}

// The categories the world and the player's movement give a meaning: solid things a bit the
// player's masks hold, with a mask that holds the player; signals that match the player; the
// goal exactly its category.
TEST(LevelBuilder, DefaultsUseTheCategoriesTheWorldExpects) {
    LevelBuilder b;
    b.ground({{-10, 0}, {30, 0}}, -10, glm::vec4(1));
    b.checkPoint({-5, 1});
    b.checkPoint({10, 1});
    b.goal({25, 2}, {1, 2});
    b.boxBody({5, 3}, {0.5f, 0.5f});
    b.fluid({12, 1}, {2, 1});

    auto const& d = b.data();
    for (uint16_t const playerMask : {uint16_t(0x010E), uint16_t(0x038C)}) {
        FixtureSettings const ground = settingsOf(d.staticShapes, 0);
        EXPECT_NE(ground.filter.categoryBits & playerMask, 0);
        FixtureSettings const box = settingsOf(d.dynamicBodies[0].shapes, 0);
        EXPECT_NE(box.filter.categoryBits & playerMask, 0);
    }
    for (auto const* shapes : {&d.staticShapes, &d.dynamicBodies[0].shapes, &d.fluids[0].shapes}) {
        FixtureSettings const s = settingsOf(*shapes, 0);
        EXPECT_NE(s.filter.maskBits & levels::playerCategory, 0);
        EXPECT_NE(s.filter.maskBits & levels::particleCollisionMask, 0);
    }
    EXPECT_EQ(settingsOf(d.signalShapes, 0).filter.categoryBits, levels::solidCategory);  // check point sensor
    EXPECT_EQ(d.fixtureSignals[0].categoryMask, levels::playerCategory);
    EXPECT_EQ(settingsOf(d.signalShapes, 1).filter.categoryBits, 0x0080);
}
