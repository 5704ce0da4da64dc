// The real `zelv` executable under Xvfb, as a player meets the window around the game: the boards
// drawn inside the game from the local scores, and closed again; a level paused when the window
// loses the focus, and going on drawing and answering once it is back.
#include <gtest/gtest.h>

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
    // P once: another during the fade back would pause again.
    game.tap("p");
    ASSERT_TRUE(game.waitForScreen("UnPauseViewController", Ms(30000))) << game.describe();
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
    o.deadline = Ms(540000);
    GameWindow game(o);
    ASSERT_TRUE(game.ok()) << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    // In view from the start, the jelly and the block the ball rolls into, in their colours (as
    // the level's grading shows them): magenta, and a slate blue that is neither sky nor grass.
    auto bodies = [](uint8_t r, uint8_t g, uint8_t b) {
        return (r > g + 40 && b > g + 40) || (r > 50 && r < 100 && g > 85 && g < 125 && b - g > 25 && b - g < 60);
    };
    EXPECT_TRUE(game.waitUntil([&] { return game.screenshot().shareIn(0, 0, 1280, 720, bodies) > 0.005; }, Ms(20000)));
    auto sky = [](uint8_t r, uint8_t, uint8_t b) { return b > 190 && b > r + 100; };
    EXPECT_TRUE(game.waitUntil([&] { return game.screenshot().shareIn(0, 0, 1280, 720, sky) > 0.2; }, Ms(20000)));
    auto jelly = [](uint8_t r, uint8_t g, uint8_t b) { return r > g + 40 && b > g + 40; };
    auto block = [](int r, int g, int b) { return abs(r - 72) <= 6 && abs(g - 104) <= 6 && abs(b - 146) <= 6; };
    auto ball = [](uint8_t r, uint8_t g, uint8_t b) { return r < 30 && g > 95 && g > r + 70 && b > 45 && b < 100; };
    // The box (x0, x1, y0, y1) a colour covers in 300..560, off the columns of `off` (the ball's eyes are near slate).
    auto box = [](Picture const& p, auto const& test, std::array<int, 4> off = {9999, -9999}) {
        std::array<int, 4> e{9999, -9999, 9999, -9999};
        for (int i = p.width * p.height * 160 / 720; i < p.width * p.height * 420 / 720; ++i)
            if (int const x = i % p.width * 1280 / p.width, y = 720 - i / p.width * 720 / p.height;
                (x < off[0] - 8 || x > off[1] + 8) && test(p.rgb[3 * i], p.rgb[3 * i + 1], p.rgb[3 * i + 2]))
                e = {std::min(e[0], x), std::max(e[1], x), std::min(e[2], y), std::max(e[3], y)};
        return e;
    };
    game.keyDown("Right");
    int thrown = 0, astray = 0, holes = 0;  // grabs: ball 30 over the bodies, body out of 420..495, sky in ground
    EXPECT_TRUE(game.waitUntil([&] {
        Picture const p = game.screenshot();
        auto const b = box(p, ball), j = box(p, jelly), k = box(p, block, b);
        thrown += b[2] - std::max(j[3], k[3]) >= 30 && b[2] < 9999, astray += std::max(j[3], k[3]) >= 495;
        astray += std::min(j[2], k[2]) <= 420, holes += p.shareIn(200, 300, 1280, 450, sky) > 0.0005;
        return std::max({b[0], j[0], k[0]}) < 9999 && b[0] > k[1] + 20;
    }, Ms(120000))) << "the ball was not seen past the jelly and the block";
    EXPECT_TRUE(thrown == 0 && astray == 0 && holes == 0) << thrown << " thrown, " << astray << " astray, " << holes;
    // Right held, jump pressed and let go in turn to hop over what stands on the way, each for 12
    // to 24 of the game's frames from a fixed sequence: a loaded machine, drawing fewer frames a
    // second, plays the same hops, and no single rhythm can keep the ball rocking against a box.
    // The run is given 3600 frames from the game's start.
    game.keyDown("Right");
    std::minstd_rand hops(7);
    bool jumping = false;
    long next = 0, frame = -1;
    game.waitUntil(
        [&] {
            if (game.log().find("zelv: screen EndOfLevelViewController\n") != std::string::npos) return true;
            frame = game.lastFrame();
            if (frame >= next) {
                jumping ? game.keyUp("space") : game.keyDown("space");
                jumping = !jumping;
                next = frame + 12 + long(hops() % 13);
            }
            return frame > 3600;
        },
        Ms(60000));
    if (jumping) game.keyUp("space");
    game.keyUp("Right");
    ASSERT_TRUE(game.waitForScreen("EndOfLevelViewController", Ms(0)))
        << "not at the goal after " << frame << " frames\n" << game.describe();
    ASSERT_TRUE(game.waitForScreen("ResultsMenu", Ms(30000))) << game.describe();
    EXPECT_TRUE(game.stop()) << game.describe();
}

}  // namespace

int main(int argc, char** argv) { return testing_support::runTestsUnderXvfb(argc, argv); }
