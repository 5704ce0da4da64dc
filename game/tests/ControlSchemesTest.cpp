// Touch scripts through the two touch schemes on phone and tablet layouts, with the state checked
// after every step; and the controller mapping.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "game/DummyControlScheme.h"
#include "game/GameViewController.h"
#include "game/OnScreenControlScheme.h"
#include "game/ScoreValues.h"
#include "game/TouchAndSwipeControlScheme.h"
#include "os/services/PlatformServices.h"

namespace {

enum Op { Began, Moved, Ended, Reset };
// One touch step and the bytes set after it ("LRJD" letters); a move amount below 0 is not checked.
struct Step {
    Op op;
    std::function<glm::vec2()> at;
    std::string expect;
    float amount = -1.0f;
};

std::string bytes(ControlScheme::InputState const& s) {
    std::string out;
    if (s.left) out += 'L';
    if (s.right) out += 'R';
    if (s.jump) out += 'J';
    if (s.dive) out += 'D';
    return out;
}

void play(ControlScheme& scheme, std::vector<Step> const& steps, std::string const& name) {
    for (size_t i = 0; i < steps.size(); ++i) {
        Step const& s = steps[i];
        glm::vec2 const p = s.at ? s.at() : glm::vec2(0.0f);
        switch (s.op) {
            case Began: scheme.touchBegan(p, 1); break;
            case Moved: scheme.touchMoved(p, 1); break;
            case Ended: scheme.touchEnded(p, 1); break;
            case Reset: scheme.reset(); break;
        }
        EXPECT_EQ(bytes(scheme.inputState()), s.expect) << name << " step " << i;
        if (s.amount >= 0.0f) {
            EXPECT_NEAR(scheme.inputState().moveAmount, s.amount, 1e-4f) << name << " step " << i;
        }
    }
}

// Phone and tablet layouts (the tablet's through ZELV_TABLET).
class ControlSchemes : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        platform_services::setScreenSizes(1280.0f, 720.0f, 1334.0f, 750.0f);
        setenv("ZELV_TABLET", GetParam() ? "1" : "0", 1);
    }
    void TearDown() override { unsetenv("ZELV_TABLET"); }
};

glm::vec2 centre(Rect const& r) { return {(r.minX + r.maxX) / 2, (r.minY + r.maxY) / 2}; }

TEST_P(ControlSchemes, OnScreenButtons) {
    OnScreenControlScheme s(nullptr);
    auto left = [&] { return centre(s.leftArea()); };
    auto right = [&] { return centre(s.rightArea()); };
    auto jump = [&] { return glm::vec2(s.jumpArea().maxX - 1, s.jumpArea().minY + 1); };
    auto dive = [&] { return glm::vec2(s.diveArea().minX + 1, s.diveArea().minY + 1); };
    auto nowhere = [] { return glm::vec2(640.0f, 700.0f); };
    auto centreLine = [&] { return glm::vec2(s.leftArea().maxX, centre(s.leftArea()).y); };
    EXPECT_EQ(s.inputState().moveAmount, 1.0f);
    play(s,
         {{Began, left, "L"}, {Moved, right, "R"}, {Moved, nowhere, "R"}, {Moved, centreLine, "R"},
          // A second finger on jump; lifting it inside clears only jump.
          {Began, jump, "RJ"}, {Ended, jump, "R"},
          // A press on dive, lifted outside while another finger stays: dive stays set.
          {Began, dive, "RD"}, {Ended, nowhere, "RD"},
          // The last finger clears everything wherever it ends.
          {Ended, nowhere, ""},
          // A reset while a finger is down: its end finds no touch and changes nothing.
          {Began, left, "L"}, {Reset, nullptr, "", 1.0f}, {Ended, left, ""}, {Moved, left, ""}},
         "buttons");
    if (!GetParam()) {
        // On phones the jump and dive areas overlap: a touch starting there dives, one moving
        // there jumps.
        glm::vec2 const both((s.jumpArea().minX + s.diveArea().maxX) / 2, centre(s.jumpArea()).y);
        ASSERT_TRUE(s.jumpArea().contains(both) && s.diveArea().contains(both));
        play(s, {{Began, [&] { return both; }, "D"}, {Moved, [&] { return both; }, "J"}, {Ended, nowhere, ""}}, "overlap");
    }
    // Unmatched ends never take the count below zero: a begin after them still counts.
    play(s, {{Ended, nowhere, ""}, {Ended, nowhere, ""}, {Began, left, "L"}, {Ended, nowhere, ""}}, "unmatched");
}

TEST_P(ControlSchemes, TouchAndSwipe) {
    TouchAndSwipeControlScheme s(nullptr);
    float const k = s.scale(), r = s.radius();
    EXPECT_GE(k, 0.25f);
    EXPECT_EQ(r, std::floor(75.0f * k + 0.5f));
    float const minCentre = r + 100.0f * k;
    auto at = [](float x, float y) { return [=] { return glm::vec2(x, y); }; };
    float const y = 200.0f;
    // The slider lands no further left than its margin; the first move left of the centre is left.
    play(s, {{Began, at(10, y), "", 0.0f}}, "slider start");
    EXPECT_FLOAT_EQ(s.stickCentreX(), minCentre);
    play(s,
         {{Moved, at(minCentre - 0.4f * r, y), "L", 0.4f},
          {Moved, at(minCentre + 0.4f * r, y), "R", 0.4f},
          {Moved, at(minCentre + r * 0.995f, y), "R", 1.0f},  // within 1 % snaps to full
          {Moved, at(minCentre + r + 30, y), "R", 1.0f},    // drags the centre along
          {Moved, [&] { return glm::vec2(s.stickCentreX(), y); }, "", 0.0f}},  // on the dragged centre
         "slider");
    EXPECT_NEAR(s.stickCentreX(), minCentre + 30, 1e-3f);
    // Dragging left is clamped at the margin.
    play(s, {{Moved, at(0, y), "L", 1.0f}}, "clamp");
    EXPECT_FLOAT_EQ(s.stickCentreX(), minCentre);
    s.update(50.0f);
    EXPECT_NEAR(s.stickAlpha(), 0.5f, 1e-5f);

    // A swipe on the right half while the slider is held: the reference trails the finger.
    float const step = 50.0f * k;
    play(s,
         {{Began, at(1000, 300), "L"},
          {Moved, at(1000, 300 + step - 1), "L"},
          {Moved, at(1000, 300 + step + 20), "LJ"},
          {Moved, at(1000, 300 + step + 20 - 2 * step + 1), "LJ"},  // not yet two steps down
          {Moved, at(1000, 300 + step + 20 - 2 * step - 1), "LD"},
          // A third touch blocks swipes.
          {Began, at(900, 100), "LD"},
          {Moved, at(1000, 600), "LD"},
          {Ended, at(900, 100), "L"},  // ends as a swipe: jump and dive cleared
          // The slider's end with a touch left clears only left and right.
          {Ended, at(10, y), ""}},
         "swipe");
    EXPECT_EQ(s.touchCount(), 1u);
    EXPECT_FALSE(s.stickActive());
    play(s, {{Ended, at(1000, 300), ""}}, "last");
    EXPECT_EQ(s.touchCount(), 0u);
    // Ends with nothing down are ignored: the count stays at zero and swipes still work.
    play(s, {{Ended, at(100, 100), ""}, {Ended, at(1000, 100), ""}, {Began, at(1000, 300), ""},
             {Moved, at(1000, 300 + step + 1), "J"}},
         "underflow");
    EXPECT_EQ(s.touchCount(), 1u);
    // A slider thumb far into the right half is a right-half touch: it ends as a swipe.
    s.reset();
    play(s, {{Began, at(500, y), "", 0.0f}, {Moved, at(500 + 4 * r + 10, y), ""}, {Ended, at(500 + 4 * r + 10, y), ""}},
         "far thumb");
    EXPECT_EQ(s.touchCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ControlSchemes, ::testing::Values(false, true),
                         [](auto const& info) { return std::string(info.param ? "tablet" : "phone"); });

TEST(ControllerMapping, StickPadAndButtons) {
    auto pad = [](float dpadX, float leftX, float leftY, float rightY, std::string const& buttons) {
        GamepadState g;
        g.dpadX = dpadX, g.leftX = leftX, g.leftY = leftY, g.rightY = rightY;
        g.buttonA = buttons.find('A') != std::string::npos, g.buttonB = buttons.find('B') != std::string::npos;
        g.buttonY = buttons.find('Y') != std::string::npos;
        return GameViewController::controllerInput(g);
    };
    EXPECT_TRUE(pad(0, 0, 0, 0, "").isEmpty());
    EXPECT_EQ(bytes(pad(0, 1, 1, 0, "")), "R");
    EXPECT_NEAR(pad(0, 1, 1, 0, "").moveAmount, 1.41421f, 1e-4f);  // not clamped
    EXPECT_EQ(bytes(pad(-1, 0, 0, 0, "")), "L");
    EXPECT_EQ(pad(-1, 0, 0, 0, "").moveAmount, 1.0f);
    EXPECT_EQ(bytes(pad(0, 0, 0, 0, "AB")), "D");
    EXPECT_EQ(bytes(pad(0, 0, 0, 0, "Y")), "J");
    EXPECT_EQ(bytes(pad(0, 0, 0, 0.5f, "")), "J");
    EXPECT_EQ(bytes(pad(0, 0, 0, -0.5f, "")), "D");
}

TEST(ScoreValues, ExamplesAndLimits) {
    EXPECT_EQ(scoreToLeaderboardValue(3.25f, GameMode::TimeAttack), -32500);
    EXPECT_EQ(formatScore(-32500, GameMode::TimeAttack), "3.2500");
    EXPECT_FLOAT_EQ(leaderboardValueToScore(-32500, GameMode::TimeAttack), 3.25f);
    EXPECT_EQ(scoreToLeaderboardValue(83456.5f, GameMode::Normal), 83457);
    EXPECT_EQ(formatScore(83457, GameMode::Normal), "01:23.457");
    EXPECT_EQ(formatScore(3723004, GameMode::Hardcore), "62:03.004");
    EXPECT_EQ(scoreToLeaderboardValue(-2.5f, GameMode::Normal), -3);
    EXPECT_EQ(scoreToLeaderboardValue(1500.4f, GameMode::CollectTime), -1500);
    EXPECT_FLOAT_EQ(leaderboardValueToScore(-1500, GameMode::CollectTime), 1500.0f);
    EXPECT_EQ(scoreToLeaderboardValue(12.0f, GameMode(7)) + leaderboardValueToScore(12, GameMode(7)), 0);
    EXPECT_EQ(formatScore(12, GameMode(7)) + formatScore(12, GameMode::Intro), "");
    // Out-of-range and non-numbers saturate or give 0 instead of undefined conversions.
    EXPECT_EQ(scoreToLeaderboardValue(1e20f, GameMode::Normal), INT32_MAX);
    EXPECT_EQ(scoreToLeaderboardValue(1e20f, GameMode::TimeAttack), INT32_MIN);
    EXPECT_EQ(scoreToLeaderboardValue(std::nanf(""), GameMode::Hardcore), 0);
    EXPECT_EQ(formatScore(INT64_MIN, GameMode::TimeAttack).empty(), false);
}

}  // namespace
