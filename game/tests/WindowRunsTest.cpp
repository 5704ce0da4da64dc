// The real `zelv` executable under Xvfb, as a player meets the window around the game: the boards
// drawn inside the game from the local scores, and closed again; a level paused when the window
// loses the focus, and going on drawing and answering once it is back.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "testing/GameWindow.h"
#include "testing/TestPaths.h"
#include "testing/XInput.h"

namespace {

using game_window::GameWindow;
using game_window::Ms;
using game_window::Picture;

// Points of the 1280 x 720 screen, y up.
struct Point {
    float x, y;
};
Point const kSkipIntro{1180, 650};
Point const kPlay{640, 168};
Point const kLeaderboards{876, 168};
Point const kBoardsOk{640, 118};

// The share of pixels in a box of the picture (virtual screen coordinates, y up) that pass.
template <class Test>
double shareIn(Picture const& p, float x0, float y0, float x1, float y1, Test const& test) {
    return p.shareIn(x0, y0, x1, y1, test);
}

bool dark(uint8_t r, uint8_t g, uint8_t b) { return r < 60 && g < 60 && b < 70; }
bool light(uint8_t r, uint8_t g, uint8_t b) { return r > 170 && g > 170 && b > 170; }

// Plain zelv up to its main menu: the intro skipped by its button.
bool toMainMenu(GameWindow& game) {
    return game.waitForScreen("GameViewController", Ms(60000)) &&
           game.actUntilScreen("MainMenuLoaderViewController", [&] { game.click(kSkipIntro.x, kSkipIntro.y); },
                               Ms(1000), Ms(60000)) &&
           game.waitForScreen("MainMenuStartMenu", Ms(30000));
}

TEST(WindowRuns, LeaderboardsFromTheMainMenuShowTheLocalScoresInsideTheGameAndGiveTheMenuBack) {
    testing_support::TempDir home;
    std::filesystem::create_directories(home / "data" / "zelv");
    {
        // The local services' file, as results would have left it: two boards and an achievement.
        std::ofstream services(home / "data" / "zelv" / "gameservices");
        services << "score.grp.zelv.level01=5203\nscore.grp.zelv.hardcoreleaderboardlevels=3\n"
                    "achievement.grp.zelv.goldStarAnyLevel=100\n";
    }
    GameWindow::Options o;
    o.home = home.path();
    GameWindow game(o);
    ASSERT_TRUE(game.ok()) << game.describe();
    ASSERT_TRUE(toMainMenu(game)) << game.describe();
    Picture menu, shot;
    ASSERT_TRUE(game.waitForContent(Ms(20000), &menu)) << "the main menu is dark";

    ASSERT_TRUE(game.actUntilScreen("GameServicesView", [&] { game.click(kLeaderboards.x, kLeaderboards.y); },
                                    Ms(1500), Ms(30000)))
        << game.describe();
    // The dark panel over the menu, with light rows of text in both columns.
    EXPECT_TRUE(game.waitUntil(
        [&] {
            shot = game.screenshot();
            return shareIn(shot, 160, 70, 1120, 650, dark) > 0.6 &&
                   shareIn(shot, 150, 470, 610, 540, light) > 0.01 && shareIn(shot, 670, 470, 1130, 540, light) > 0.01;
        },
        Ms(20000)))
        << "no boards drawn: " << shareIn(shot, 160, 70, 1120, 650, dark) << " dark, rows "
        << shareIn(shot, 150, 470, 610, 540, light) << " and " << shareIn(shot, 670, 470, 1130, 540, light);
    // The frames go on under the boards: the log shows no modal box and the game keeps time.
    EXPECT_EQ(game.log().find("Dialog:"), std::string::npos);

    // A closes them (OK has the focus); the start menu opens again and takes a click.
    game.tap("Return");
    ASSERT_TRUE(game.waitForScreen("MainMenuStartMenu", Ms(30000))) << game.describe();
    ASSERT_TRUE(game.actUntilScreen("LevelSelectMenu", [&] { game.click(kPlay.x, kPlay.y); }, Ms(1500), Ms(30000)))
        << game.describe();

    // Back, and the boards again: this time closed by a click on OK.
    ASSERT_TRUE(game.actUntilScreen("MainMenuStartMenu", [&] { game.tap("Escape"); }, Ms(1500), Ms(30000)))
        << game.describe();
    ASSERT_TRUE(game.actUntilScreen("GameServicesView", [&] { game.click(kLeaderboards.x, kLeaderboards.y); },
                                    Ms(1500), Ms(30000)))
        << game.describe();
    ASSERT_TRUE(game.actUntilScreen("MainMenuStartMenu", [&] { game.click(kBoardsOk.x, kBoardsOk.y); }, Ms(1500),
                                    Ms(30000)))
        << game.describe();
    EXPECT_TRUE(game.stop()) << game.describe();
}

// Another program takes the focus while level01 runs: the level pauses and the window goes on
// drawing (the pause menu comes up over the greyed frame); with the focus back, P resumes play.
TEST(WindowRuns, LosingTheFocusPausesTheLevelAndTheWindowAnswersWhenItReturns) {
    testing_support::TempDir home;
    GameWindow::Options o;
    o.home = home.path();
    o.args = {"--level", "levels/level01.pxl"};
    GameWindow game(o);
    ASSERT_TRUE(game.ok()) << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    Picture play, paused;
    ASSERT_TRUE(game.waitForContent(Ms(20000), &play)) << "level01 stays dark";

    game.setFocus(false);
    ASSERT_TRUE(game.waitForScreen("PauseViewController", Ms(20000))) << game.describe();
    EXPECT_TRUE(game.waitForContent(Ms(20000), &paused, &play)) << "the window stopped drawing";

    game.setFocus(true);
    ASSERT_TRUE(game.actUntilScreen("UnPauseViewController", [&] { game.tap("p"); }, Ms(1000), Ms(30000)))
        << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(20000))) << game.describe();
    // Play goes on: holding right rolls the ball and the view with it.
    Picture const resumed = game.screenshot();
    game.keyDown("Right");
    Picture moved;
    EXPECT_TRUE(game.waitUntil(
        [&] {
            moved = game.screenshot();
            return moved.differenceFrom(resumed) > 0.05;
        },
        Ms(30000)))
        << "play does not go on: " << moved.differenceFrom(resumed);
    game.keyUp("Right");
    EXPECT_TRUE(game.stop()) << game.describe();
}

// The sampler, every kind of level object on the way, played to its goal (over its particle
// bodies first).
TEST(WindowRuns, TheSamplerIsPlayedToItsGoal) {
    testing_support::TempDir home;
    GameWindow::Options o;
    o.home = home.path();
    o.args = {"--level", "levels/sampler.pxl"};
    std::filesystem::path const record = home.path() / "drawn.txt";
    o.env["ZELV_DRAW_RECORD"] = record.string();
    o.deadline = Ms(540000);
    GameWindow game(o);
    ASSERT_TRUE(game.ok()) << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    // In view from the start, the jelly and the block the ball rolls into, in their colours (as
    // the level's grading shows them): magenta, and a slate blue that is neither sky nor grass.
    auto bodies = [](uint8_t r, uint8_t g, uint8_t b) {
        return (r > g + 40 && b > g + 40) || (r > 50 && r < 100 && g > 85 && g < 125 && b - g > 25 && b - g < 60);
    };
    // Right held alone once the level has faded in, the ball rolls over them: in every grab it
    // stays on the ground (its bottom under the bodies' tops, whatever the view does), the
    // bodies' tops stay under 495 (the ground's top is at 457) and no sky shows inside the ground
    // right of the level's left wall; in one the ball is past both, in their basins still.
    auto sky = [](uint8_t r, uint8_t, uint8_t b) { return b > 190 && b > r + 100; };
    EXPECT_TRUE(game.waitUntil(
        [&] {
            Picture const p = game.screenshot();
            return p.shareIn(0, 0, 1280, 720, bodies) > 0.005 && p.shareIn(0, 0, 1280, 720, sky) > 0.2;
        },
        Ms(20000)));
    auto jelly = [](uint8_t r, uint8_t g, uint8_t b) { return r > g + 40 && b > g + 40; };
    // The block's slate, closely: the ball's eyes and the far scenery come near it.
    auto block = [](uint8_t r, uint8_t g, uint8_t b) {
        return std::abs(r - 72) <= 6 && std::abs(g - 104) <= 6 && std::abs(b - 146) <= 6;
    };
    auto ball = [](uint8_t r, uint8_t g, uint8_t b) { return r < 30 && g > 95 && g > r + 70 && b > 45 && b < 100; };
    struct Extent {
        float x0 = 1e9f, x1 = -1e9f, y0 = 1e9f, y1 = -1e9f;
        bool empty() const { return x0 > x1; }
    };
    // Where a colour lies between 300 and 560 (clear of the pause button), in screen units, y up,
    // leaving out the columns of `skip` (the ball's).
    auto extent = [](Picture const& p, auto const& test, Extent const& skip = Extent()) {
        Extent e;
        for (int y = p.height * 160 / 720; y < p.height * 420 / 720; ++y) {
            for (int x = 0; x < p.width; ++x) {
                uint8_t const* c = &p.rgb[(size_t(y) * size_t(p.width) + size_t(x)) * 3];
                float const vx = (float(x) + 0.5f) * 1280.0f / float(p.width);
                if ((vx > skip.x0 - 8.0f && vx < skip.x1 + 8.0f) || !test(c[0], c[1], c[2])) continue;
                float const vy = 720.0f - (float(y) + 0.5f) * 720.0f / float(p.height);
                e.x0 = std::min(e.x0, vx), e.x1 = std::max(e.x1, vx);
                e.y0 = std::min(e.y0, vy), e.y1 = std::max(e.y1, vy);
            }
        }
        return e;
    };
    game.keyDown("Right");
    long const rollFrom = game_window::recordedFrame(record);
    long grabbed = -1;
    double skyInGround = 0.0;
    float ballLift = -1e9f, bodiesTop = 0.0f;
    Extent past[2];
    bool const rolledPast = game.waitUntil(
        [&] {
            long const now = game_window::recordedFrame(record);
            if (now - grabbed < 3) return now - rollFrom > 300;
            grabbed = now;
            Picture const p = game.screenshot();
            if (p.shareIn(0, 0, 1280, 720, sky) < 0.2) return now - rollFrom > 300;  // still fading in
            skyInGround = std::max(skyInGround, p.shareIn(200, 300, 1280, 450, sky));
            Extent const b = extent(p, ball), j = extent(p, jelly), k = extent(p, block, b);
            bodiesTop = std::max({bodiesTop, j.y1, k.y1});
            if (!b.empty() && !(j.empty() && k.empty())) ballLift = std::max(ballLift, b.y0 - std::max(j.y1, k.y1));
            if (b.empty() || j.empty() || k.empty() || b.x0 < k.x1 + 20.0f) return now - rollFrom > 300;
            past[0] = j, past[1] = k;
            return true;
        },
        Ms(120000));
    game.keyUp("Right");
    EXPECT_TRUE(rolledPast) << "the ball was not seen past the jelly and the block";
    EXPECT_LT(ballLift, 30.0f) << "the ball was thrown into the air: " << ballLift;
    EXPECT_LT(bodiesTop, 495.0f) << "a body was lifted out of its basin";
    EXPECT_LT(skyInGround, 0.0005) << "sky inside the ground";
    for (Extent const& e : past) EXPECT_TRUE(e.y0 > 420.0f && e.y1 < 495.0f) << e.y0 << " to " << e.y1;
    // Right held, jump pressed and let go in turn to hop over what stands on the way, each for 12
    // to 24 of the game's frames from a fixed sequence: a loaded machine, drawing fewer frames a
    // second, plays the same hops, and no single rhythm can keep the ball rocking against a box.
    // The run is given 3600 frames; a game that draws none for a minute has hung.
    game.keyDown("Right");
    std::minstd_rand hops(7);
    bool jumping = false;
    long next = 0, frame = -1;
    auto drewAt = std::chrono::steady_clock::now();
    game.waitUntil(
        [&] {
            if (game.log().find("zelv: screen EndOfLevelViewController\n") != std::string::npos) return true;
            long const now = game_window::recordedFrame(record);
            if (now != frame) drewAt = std::chrono::steady_clock::now();
            frame = now;
            if (frame >= next) {
                jumping ? game.keyUp("space") : game.keyDown("space");
                jumping = !jumping;
                next = frame + 12 + long(hops() % 13);
            }
            return frame > 3600 || std::chrono::steady_clock::now() - drewAt > Ms(60000);
        },
        Ms(500000));
    if (jumping) game.keyUp("space");
    game.keyUp("Right");
    ASSERT_TRUE(game.waitForScreen("EndOfLevelViewController", Ms(0)))
        << "not at the goal after " << frame << " frames\n" << game.describe();
    ASSERT_TRUE(game.waitForScreen("ResultsMenu", Ms(30000))) << game.describe();
    EXPECT_TRUE(game.stop()) << game.describe();
}

}  // namespace

int main(int argc, char** argv) { return testing_support::runTestsUnderXvfb(argc, argv); }
