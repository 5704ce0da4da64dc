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
