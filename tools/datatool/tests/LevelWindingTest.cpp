#include <gtest/gtest.h>

#include "tools/datatool/LevelBuilder.h"

using levels::Fixture;
using levels::LevelBuilder;
using levels::windingFaults;

TEST(LevelWinding, GroundAndWallsAuthoredTheBuildersWayPass) {
    LevelBuilder b;
    b.ground({{-10, 0}, {5, 0}, {10, 2}, {15, -1}, {30, 0}}, -10, glm::vec4(1));
    b.data().staticShapes.push_back(levels::edgeShape({-9, 0}, {-9, 20}, Fixture{}));
    b.data().staticShapes.push_back(levels::edgeShape({29, 20}, {29, 0}, Fixture{}));
    b.checkPoint({-5, 1});
    EXPECT_TRUE(windingFaults(b.data()).empty());
}

TEST(LevelWinding, GroundChainsPassEitherWayAndOnlyWallsFacingOutAreNamed) {
    LevelBuilder b;
    b.checkPoint({0, 1});
    // Chains collide from both sides, so left to right is as good as right to left.
    b.data().staticShapes.push_back(levels::chainShape({{-10, 0}, {0, 1}, {10, 0}}, Fixture{}));
    b.data().staticShapes.push_back(levels::chainShape({{10, -1}, {0, 0}, {-10, -1}}, Fixture{}));
    // A right wall facing out of the level: a one-sided edge.
    b.data().staticShapes.push_back(levels::edgeShape({9, 0}, {9, 20}, Fixture{}));
    auto const faults = windingFaults(b.data());
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_NE(faults[0].find("(9, 0) -> (9, 20)"), std::string::npos) << faults[0];
    EXPECT_NE(faults[0].find("wall"), std::string::npos) << faults[0];

    // A wall needs a start to face.
    b.data().checkPoints.clear();
    b.data().staticShapes.pop_back();
    b.data().staticShapes.push_back(levels::edgeShape({-9, 0}, {-9, 20}, Fixture{}));
    EXPECT_EQ(windingFaults(b.data()).size(), 1u);
}

// A level the player cannot touch or finish is named for each need: ground under the check points,
// each check point's sensor and a goal, with filters tested against the player's two masks.
TEST(LevelReach, GroundCheckPointsAndGoalMustBeTouchable) {
    auto faultsOf = [](auto change) {
        LevelBuilder b;
        b.ground({{-10, 0}, {30, 0}}, -10, glm::vec4(1));
        b.checkPoint({0, 0.4f});
        b.checkPoint({10, 0.4f});
        b.goal({25, 1}, {1, 2});
        change(b.data());
        std::string all;
        for (auto const& f : levels::reachFaults(b.data())) all += f + "\n";
        return all;
    };
    EXPECT_EQ(faultsOf([](auto&) {}), "");
    // Ground in a category neither circle collides with; a start hanging in the air.
    EXPECT_NE(faultsOf([](auto& d) {
                  Fixture glass;
                  glass.category = 0x0010;
                  d.staticShapes[0] = levels::chainShape({{-10, 0}, {30, 0}}, glass);
              }).find("check point 0"),
              std::string::npos);
    EXPECT_NE(faultsOf([](auto& d) { d.checkPoints[0].respawnPosition.y = 3.0f; }).find("check point 0"),
              std::string::npos);
    // A check point sensor whose mask leaves the player out, or whose signal entry does not
    // answer the player's category.
    EXPECT_NE(faultsOf([](auto& d) {
                  Fixture f = levels::sensorFixture(0);
                  f.mask = 0xFFFE;
                  d.signalShapes[0] = levels::boxShape({10, 2}, {0.5f, 3}, f);
              }).find("check point 1"),
              std::string::npos);
    EXPECT_NE(faultsOf([](auto& d) { d.fixtureSignals[0].categoryMask = 0x0004; }).find("check point 1"),
              std::string::npos);
    // A goal only the inner circle's mask would see (0x0080 is the outer circle's alone).
    EXPECT_EQ(faultsOf([](auto& d) {
                  Fixture f = levels::sensorFixture();
                  f.category = 0x0080;
                  f.mask = 0x0002;
                  d.signalShapes.back() = levels::boxShape({25, 1}, {1, 2}, f);
              }),
              "no goal the player can touch\n");
}

// A level may end with the camera's closing shot instead of a goal: a sensor the player touches
// starts it through a once-only filter.
TEST(LevelReach, ASensorStartingTheClosingShotEndsTheLevel) {
    LevelBuilder b;
    b.ground({{-10, 0}, {30, 0}}, -10, glm::vec4(1));
    b.checkPoint({0, 0.4f});
    uint32_t const fell = b.signal();
    b.sensorBox({25, 1}, {1, 2}, fell);
    EXPECT_EQ(levels::reachFaults(b.data()), std::vector<std::string>{"no goal the player can touch"});
    b.signalFilter(fell, levels::closingShotSignal, 0, 1, 0.0f);
    EXPECT_TRUE(levels::reachFaults(b.data()).empty());
}

// What collides is drawn and what is drawn shows its colour: a colour swatch given the textured
// shader, and a body that stops the player while hidden for good or never drawn, are refused.
TEST(LevelVisibility, UntintedSwatchesAndHiddenCollidersAreNamed) {
    auto faultsOf = [](auto change) {
        LevelBuilder b;
        b.ground({{-10, 0}, {30, 0}}, -10, glm::vec4(1));
        b.boxBody({5, 3}, {0.5f, 0.5f});
        change(b, b.data().dynamicBodies[0]);
        std::string all;
        for (auto const& f : levels::visibilityFaults(b.data())) all += f + "\n";
        return all;
    };
    EXPECT_EQ(faultsOf([](LevelBuilder&, auto&) {}), "");
    EXPECT_NE(faultsOf([](LevelBuilder& b, auto&) {
                  b.data().meshSet.arrayMeshes.back().shader = PristineLevel::MeshCommon::texturedShader;
              }).find("art/colors/white.png with the textured shader"),
              std::string::npos);
    EXPECT_EQ(faultsOf([](LevelBuilder& b, auto& body) { body.enableSignal = b.signal(); }),
              "dynamic body 0 stops the player while it is hidden for good\n");
    EXPECT_EQ(faultsOf([](LevelBuilder&, auto& body) { body.drawables.clear(); }),
              "dynamic body 0 stops the player while nothing draws it\n");
    // Shown while the view is near: never met hidden.
    EXPECT_EQ(faultsOf([](LevelBuilder& b, auto& body) {
                  body.enableSignal = b.signal();
                  body.shapes.push_back(levels::boxShape(
                      {0, 0}, {0.5f, 0.5f},
                      levels::sensorFixture(b.fixtureSignal(body.enableSignal, 0, levels::viewSensorCategory))));
              }),
              "");
}

TEST(LevelLiquids, ALiquidBeyondTheSolversReachIsNamed) {
    levels::LevelBuilder b;
    b.data().metaData.particleRadius = 0.05f;  // reach 204.8 m
    b.particleLiquid({204.0f, 3.0f}, {1.0f, 1.0f});
    b.particleLiquid({-150.0f, 3.0f}, {1.0f, 1.0f});
    b.particleLiquid({0.0f, 204.5f}, {1.0f, 1.0f});
    auto const faults = levels::liquidFaults(b.data());
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_NE(faults[0].find("liquid 0"), std::string::npos);
    EXPECT_NE(faults[1].find("liquid 2"), std::string::npos);
}

// A check point past the goal, seen from the start, is refused, whichever way the level runs.
TEST(LevelReach, NoCheckPointLiesBeyondTheGoal) {
    auto faultsOf = [](float direction, float checkPointX) {
        LevelBuilder b;
        b.ground({{-40, 0}, {40, 0}}, -10, glm::vec4(1));
        b.checkPoint({-30 * direction, 0.4f});
        b.checkPoint({checkPointX * direction, 0.4f});
        b.goal({20 * direction, 1}, {1, 2});
        std::string all;
        for (auto const& f : levels::reachFaults(b.data())) all += f + "\n";
        return all;
    };
    for (float direction : {1.0f, -1.0f}) {
        EXPECT_EQ(faultsOf(direction, 10), "") << direction;
        EXPECT_EQ(faultsOf(direction, 20), "") << direction;  // inside the goal
        EXPECT_NE(faultsOf(direction, 30).find("check point 1 at"), std::string::npos) << direction;
        EXPECT_NE(faultsOf(direction, 30).find("beyond the goal"), std::string::npos) << direction;
    }
}
