// The real `zelv` executable under Xvfb, driven by keys through XTest before any other key was
// used: the first press acts. Escape skips the opening cut-scene; in a level P opens the pause
// menu, and the first Down there moves the focus, so Enter opens the options.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testing/GameWindow.h"
#include "testing/TestPaths.h"
#include "testing/XInput.h"

namespace {

using game_window::GameWindow;
using game_window::Ms;

// A run in a folder of its own, up to its first frame with content on the given screen.
struct GameRun {
    testing_support::TempDir home;
    std::unique_ptr<GameWindow> game;
    explicit GameRun(std::vector<std::string> args) {
        GameWindow::Options o;
        o.home = home.path();
        o.args = std::move(args);
        game = std::make_unique<GameWindow>(o);
    }
    bool ready(std::string const& screen) {
        game_window::Picture shot;
        return game->ok() && game->waitForScreen(screen, Ms(60000)) && game->waitForContent(Ms(20000), &shot);
    }
};

TEST(InputRuns, TheFirstKeyPressActs) {
    {
        GameRun intro({});
        GameWindow& game = *intro.game;
        ASSERT_TRUE(intro.ready("GameViewController")) << game.describe();
        game.tap("Escape");
        EXPECT_TRUE(game.waitForScreen("MainMenuLoaderViewController", Ms(20000)))
            << "the first Escape did not skip the cut-scene; " << game.describe();
        EXPECT_TRUE(game.stop()) << game.describe();
    }
    {
        GameRun level({"--level", "levels/level01.pxl"});
        GameWindow& game = *level.game;
        ASSERT_TRUE(level.ready("GameViewController")) << game.describe();
        game.tap("p");
        ASSERT_TRUE(level.ready("PauseViewController")) << "the first P did not pause; " << game.describe();
        game.tap("Down");
        // Enter picks the focused button: options once Down has moved the focus off resume.
        EXPECT_TRUE(game.actUntilScreen("OptionsMenu", [&] { game.tap("Return"); }, Ms(3000), Ms(9000)))
            << "the first Down did not move the focus; " << game.describe();
        EXPECT_TRUE(game.stop()) << game.describe();
    }
}

}  // namespace

int main(int argc, char** argv) { return testing_support::runTestsUnderXvfb(argc, argv); }
