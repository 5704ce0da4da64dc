// The real `zelv` executable under Xvfb, driven by keys through XTest before any other key was
// used: the first press acts. Escape skips the opening cut-scene; in a level P opens the pause
// menu, and the first Down there moves the focus, so Enter opens the options.
#include <gtest/gtest.h>

#include "testing/GameWindow.h"
#include "testing/TestPaths.h"
#include "testing/XInput.h"

namespace {

using game_window::GameWindow;
using game_window::Ms;

TEST(InputRuns, TheFirstKeyPressActs) {
    {
        testing_support::TempDir home;
        GameWindow::Options o;
        o.home = home.path();
        GameWindow game(o);
        ASSERT_TRUE(game.ok()) << game.describe();
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        game_window::Picture shot;
        ASSERT_TRUE(game.waitForContent(Ms(20000), &shot)) << "the intro is dark: " << shot.litShare();
        game.tap("Escape");
        EXPECT_TRUE(game.waitForScreen("MainMenuLoaderViewController", Ms(20000)))
            << "the first Escape did not skip the cut-scene; " << game.describe();
        EXPECT_TRUE(game.stop()) << game.describe();
    }
    {
        testing_support::TempDir home;
        GameWindow::Options o;
        o.home = home.path();
        o.args = {"--level", "levels/level01.pxl"};
        GameWindow game(o);
        ASSERT_TRUE(game.ok()) << game.describe();
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        game_window::Picture shot;
        ASSERT_TRUE(game.waitForContent(Ms(20000), &shot)) << "level01 stays dark: " << shot.litShare();
        game.tap("p");
        ASSERT_TRUE(game.waitForScreen("PauseViewController", Ms(20000)))
            << "the first P did not pause; " << game.describe();
        ASSERT_TRUE(game.waitForContent(Ms(20000), &shot)) << "no pause menu: " << shot.litShare();
        game.tap("Down");
        // Enter picks the focused button: options once Down has moved the focus off resume.
        EXPECT_TRUE(game.actUntilScreen("OptionsMenu", [&] { game.tap("Return"); }, Ms(3000), Ms(9000)))
            << "the first Down did not move the focus; " << game.describe();
        EXPECT_TRUE(game.stop()) << game.describe();
    }
}

}  // namespace

int main(int argc, char** argv) { return testing_support::runTestsUnderXvfb(argc, argv); }
