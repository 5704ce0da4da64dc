#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <glm/geometric.hpp>

#include "level/Curves.h"
#include "level/JointDefinitions.h"

using PristineLevel::WrapMode;

TEST(MoveToward, StepsWithoutOvershootAndReportsArrival) {
    InterpolatedFloat const up{10.0f, 2.0f};
    float v = 0.0f;
    EXPECT_FALSE(up.moveToward(v, 3.0f));
    EXPECT_EQ(v, 6.0f);
    EXPECT_TRUE(up.moveToward(v, 3.0f));
    EXPECT_EQ(v, 10.0f);

    InterpolatedFloat const down{0.0f, 2.0f};
    v = 10.0f;
    EXPECT_FALSE(down.moveToward(v, 3.0f));
    EXPECT_EQ(v, 4.0f);
    EXPECT_TRUE(down.moveToward(v, 3.0f));
    EXPECT_EQ(v, 0.0f);

    // Already there; a zero speed or step never arrives; a negative speed never runs away.
    v = 5.0f;
    EXPECT_TRUE((InterpolatedFloat{5.0f, 1.0f}.moveToward(v, 1.0f)));
    EXPECT_FALSE((InterpolatedFloat{7.0f, 0.0f}.moveToward(v, 1.0f)));
    EXPECT_FALSE((InterpolatedFloat{7.0f, 1.0f}.moveToward(v, 0.0f)));
    EXPECT_FALSE((InterpolatedFloat{7.0f, -3.0f}.moveToward(v, 1.0f)));
    EXPECT_EQ(v, 5.0f);
}

TEST(MoveToward, DamagedValuesEndTheMove) {
    float const nan = std::numeric_limits<float>::quiet_NaN();
    float v = 1.0f;
    EXPECT_TRUE((InterpolatedFloat{nan, 1.0f}.moveToward(v, 1.0f)));
    EXPECT_EQ(v, 1.0f);
    EXPECT_FALSE((InterpolatedFloat{3.0f, nan}.moveToward(v, 1.0f)));
    EXPECT_EQ(v, 1.0f);
    v = nan;
    EXPECT_TRUE((InterpolatedFloat{3.0f, 1.0f}.moveToward(v, 1.0f)));
    EXPECT_EQ(v, 3.0f);
}

TEST(WrapTime, ModesFoldTheTime) {
    EXPECT_FLOAT_EQ(wrapTime(WrapMode::PingPong, 0.5f, 2.0f), 0.5f);
    EXPECT_FLOAT_EQ(wrapTime(WrapMode::PingPong, 2.5f, 2.0f), 1.5f);
    EXPECT_FLOAT_EQ(wrapTime(WrapMode::PingPong, 4.5f, 2.0f), 0.5f);
    EXPECT_FLOAT_EQ(wrapTime(WrapMode::PingPong, -2.5f, 2.0f), 1.5f);
    EXPECT_FLOAT_EQ(wrapTime(WrapMode::Repeat, -2.5f, 2.0f), 0.5f);
    EXPECT_FLOAT_EQ(wrapTime(WrapMode::Repeat, 5.0f, 2.0f), 1.0f);
    EXPECT_EQ(wrapTime(WrapMode::Clamp, -1.0f, 2.0f), 0.0f);
    EXPECT_EQ(wrapTime(WrapMode::Clamp, 3.0f, 2.0f), 2.0f);
    EXPECT_FALSE(std::signbit(wrapTime(WrapMode::Clamp, -0.0f, 2.0f)));
    EXPECT_EQ(wrapTime(WrapMode(5), 1.0f, 2.0f), 0.0f);
    // A zero duration gives zero, not NaN.
    for (WrapMode mode : {WrapMode::PingPong, WrapMode::Repeat, WrapMode::Clamp}) {
        EXPECT_EQ(wrapTime(mode, 1.5f, 0.0f), 0.0f) << int(mode);
    }
}

TEST(WrapBetween, ModesMapIntoTheRange) {
    EXPECT_FLOAT_EQ(wrapBetween(WrapMode::Repeat, 0.5f, 1.0f, 3.0f, 1.0f), 1.5f);
    EXPECT_FLOAT_EQ(wrapBetween(WrapMode::Repeat, -0.5f, 1.0f, 3.0f, 1.0f), 2.5f);
    EXPECT_FLOAT_EQ(wrapBetween(WrapMode::Clamp, 5.0f, 1.0f, 3.0f, 1.0f), 3.0f);
    EXPECT_FLOAT_EQ(wrapBetween(WrapMode::Clamp, -5.0f, 1.0f, 3.0f, 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(wrapBetween(WrapMode::PingPong, 3.0f, 1.0f, 3.0f, 1.0f), 2.0f);
    EXPECT_FLOAT_EQ(wrapBetween(WrapMode::PingPong, 1.0f, 1.0f, 3.0f, 2.0f), 3.0f);
    EXPECT_EQ(wrapBetween(WrapMode(9), 1.0f, 1.0f, 3.0f, 1.0f), 0.0f);
    // An empty range stays at its one value instead of dividing by zero.
    EXPECT_EQ(wrapBetween(WrapMode::PingPong, 1.0f, 2.0f, 2.0f, 1.0f), 2.0f);
    EXPECT_EQ(wrapBetween(WrapMode::Repeat, 1.0f, 2.0f, 2.0f, 1.0f), 2.0f);
}

TEST(NearestPointOnBezier, StraightSegmentEndsAndDegenerate) {
    glm::vec2 const line[4] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}};
    BezierPoint on = nearestPointOnBezier({1.2f, 0.0f}, line);
    EXPECT_NEAR(on.point.x, 1.2f, 1e-4f);
    EXPECT_NEAR(on.point.y, 0.0f, 1e-6f);
    EXPECT_NEAR(on.t, 0.4f, 1e-4f);

    BezierPoint above = nearestPointOnBezier({2.4f, 5.0f}, line);
    EXPECT_NEAR(above.point.x, 2.4f, 1e-4f);
    EXPECT_NEAR(above.t, 0.8f, 1e-4f);

    BezierPoint beyond = nearestPointOnBezier({4.0f, 1.0f}, line);
    EXPECT_EQ(beyond.t, 1.0f);
    EXPECT_EQ(beyond.point, glm::vec2(3, 0));

    BezierPoint before = nearestPointOnBezier({-2.0f, -1.0f}, line);
    EXPECT_EQ(before.t, 0.0f);
    EXPECT_EQ(before.point, glm::vec2(0, 0));

    // A segment collapsed to one point stays finite.
    glm::vec2 const dot[4] = {{1, 1}, {1, 1}, {1, 1}, {1, 1}};
    BezierPoint const r = nearestPointOnBezier({5, 5}, dot);
    EXPECT_EQ(r.point, glm::vec2(1, 1));
    EXPECT_EQ(r.t, 0.0f);
}

TEST(NearestPointOnBezier, CurvedSegmentMatchesDenseSampling) {
    glm::vec2 const arc[4] = {{0, 0}, {0, 2}, {3, 2}, {3, 0}};
    auto at = [&](float t) {
        float const u = 1 - t;
        return u * u * u * arc[0] + 3 * u * u * t * arc[1] + 3 * u * t * t * arc[2] + t * t * t * arc[3];
    };
    for (glm::vec2 p : {glm::vec2(1.5f, 3.0f), glm::vec2(0.2f, 0.7f), glm::vec2(2.9f, 0.1f), glm::vec2(1.0f, 1.0f)}) {
        float bestT = 0;
        float best = 1e30f;
        for (int i = 0; i <= 100000; ++i) {
            float const t = float(i) / 100000.0f;
            glm::vec2 const d = at(t) - p;
            if (glm::dot(d, d) < best) {
                best = glm::dot(d, d);
                bestT = t;
            }
        }
        BezierPoint const r = nearestPointOnBezier(p, arc);
        EXPECT_NEAR(r.t, bestT, 1e-3f) << p.x << "," << p.y;
        glm::vec2 const d = r.point - p;
        EXPECT_LE(glm::dot(d, d), best + 1e-4f);
    }
}

TEST(InterpolateTrack, StepAndLinear) {
    std::vector<float> const track{0.0f, 10.0f};
    EXPECT_FLOAT_EQ(interpolateTrack(1, track, 1.5f), 5.0f);  // the last value blends into the first
    EXPECT_FLOAT_EQ(interpolateTrack(1, track, 0.25f), 2.5f);
    EXPECT_EQ(interpolateTrack(0, track, 0.4f), 0.0f);
    EXPECT_EQ(interpolateTrack(0, track, 0.5f), 10.0f);
    EXPECT_EQ(interpolateTrack(0, track, -0.7f), 0.0f);
    // Rounding up from the last frame wraps to the first instead of reading past the end.
    EXPECT_EQ(interpolateTrack(0, track, 1.6f), 0.0f);
    EXPECT_EQ(interpolateTrack(1, {}, 0.5f), 1.0f);
    EXPECT_EQ(interpolateTrack(1, track, std::nanf("")), 1.0f);
}

TEST(InterpolateFrame, BlendsWholeFrames) {
    // Three frames of two floats.
    std::vector<float> const frames{0, 0, 10, 20, 30, 60};
    std::vector<float> out;
    interpolateFrame(1, frames, 3, out, 0.5f);
    EXPECT_EQ(out, (std::vector<float>{5, 10}));
    interpolateFrame(1, frames, 3, out, 2.5f);  // last frame blends into frame 0
    EXPECT_EQ(out, (std::vector<float>{15, 30}));
    interpolateFrame(0, frames, 3, out, 1.4f);
    EXPECT_EQ(out, (std::vector<float>{10, 20}));
    interpolateFrame(0, frames, 3, out, 2.6f);
    EXPECT_EQ(out, (std::vector<float>{0, 0}));

    // No frames: nothing written, no division by zero.
    std::vector<float> untouched{7};
    interpolateFrame(1, frames, 0, untouched, 0.5f);
    EXPECT_EQ(untouched, std::vector<float>{7});
}

// Control points or a point that are not numbers, or so large that the distance polynomial
// overflows, end the search at once or at its depth limit instead of recursing without end.
TEST(Curves, NearestPointSurvivesValuesThatAreNotNumbers) {
    float const nan = std::numeric_limits<float>::quiet_NaN();
    glm::vec2 const broken[4] = {{0, 0}, {nan, 1}, {2, 1}, {3, 0}};
    EXPECT_EQ(nearestPointOnBezier({1, 1}, broken).t, 0.0f);
    glm::vec2 const fine[4] = {{0, 0}, {1, 1}, {2, 1}, {3, 0}};
    EXPECT_EQ(nearestPointOnBezier({nan, 1}, fine).t, 0.0f);
    glm::vec2 const huge[4] = {{0, 0}, {3e37f, 1}, {-3e37f, 1e30f}, {3e38f, 0}};
    BezierPoint const far = nearestPointOnBezier({1e38f, -1e38f}, huge);
    EXPECT_GE(far.t, 0.0f);
    EXPECT_LE(far.t, 1.0f);
}
