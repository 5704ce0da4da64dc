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

TEST(LevelWinding, WrongWayGroundAndWallsAreNamed) {
    LevelBuilder b;
    b.checkPoint({0, 1});
    // Left to right: solid underneath, the player would fall through every segment.
    b.data().staticShapes.push_back(levels::chainShape({{-10, 0}, {0, 1}, {10, 0}}, Fixture{}));
    // A right wall facing out of the level.
    b.data().staticShapes.push_back(levels::edgeShape({9, 0}, {9, 20}, Fixture{}));
    auto const faults = windingFaults(b.data());
    ASSERT_EQ(faults.size(), 3u);
    EXPECT_NE(faults[0].find("(-10, 0) -> (0, 1)"), std::string::npos) << faults[0];
    EXPECT_NE(faults[2].find("wall"), std::string::npos) << faults[2];

    // A wall needs a start to face.
    b.data().checkPoints.clear();
    b.data().staticShapes.erase(b.data().staticShapes.begin());
    b.data().staticShapes.push_back(levels::edgeShape({-9, 0}, {-9, 20}, Fixture{}));
    EXPECT_EQ(windingFaults(b.data()).size(), 2u);
}
