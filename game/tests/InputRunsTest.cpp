// The real `zelv` executable under Xvfb, driven by keys through XTest before any other key was
// used: the first press acts. Escape skips the opening cut-scene; in a level P opens the pause
// menu, and the first Down there moves the focus, so Enter opens the options. And keys held
// through a change of level stay held in the next one.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "level/LevelCatalog.h"
#include "os/services/Documents.h"
#include "save/RoamingDataFile.h"
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
        EXPECT_TRUE(game.waitForScreen("MainMenuLoaderViewController", Ms(60000))) << game.describe();
        EXPECT_TRUE(game.stop()) << game.describe();
        // Left alone the cut-scene hands over to the loader by itself after 18.6 s, 1116 frames of
        // the fixed clock; a skip fades out in 27. Counted in frames, the bound holds on a slow
        // or sanitized build alike: the whole run, start-up and loader included, stays far
        // inside the cut-scene's own length.
        EXPECT_LT(game.frames(), 720) << "the first Escape did not skip the cut-scene; " << game.describe();
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

// A hardcore run started from the main menu (unlocked by a save that has the last level done):
// right and jump pressed once in the first level and held from then on. The first level's end
// builds the second level's screen and control scheme; the keys still held there carry the ball
// through it to the third. Keys forgotten at the change would leave the ball still in the second.
TEST(InputRuns, KeysHeldThroughAHardcoreLevelChangeStayHeld) {
    GameWindow::Options o;
    testing_support::TempDir home;
    {
        setDocumentsPath((home.path() / "data" / "zelv").string() + "/");
        RoamingDataFile file("roamingData");
        file.data.levelEntry(uint32_t(LevelCatalog::count() - 1)).best() = 100;
        file.data.setNoticeFlags(1);  // the unlock notice was shown
    }
    o.home = home.path();
    o.deadline = Ms(280000);
    GameWindow game(o);
    ASSERT_TRUE(game.ok()) << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    ASSERT_TRUE(game.actUntilScreen("MainMenuStartMenu", [&] { game.tap("Escape"); }, Ms(2000), Ms(60000)))
        << game.describe();
    // The hardcore button, top right, once the downloaded content has made it show.
    ASSERT_TRUE(game.actUntilScreen("LevelLoaderViewController<GameViewController>", [&] { game.click(1170, 610); },
                                    Ms(1500), Ms(60000)))
        << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    game.keyDown("Right");
    game.keyDown("space");
    bool const second = game.waitForScreen("LevelLoaderViewController<GameViewController>", Ms(120000));
    bool const third = second && game.waitForScreen("LevelLoaderViewController<GameViewController>", Ms(90000));
    game.keyUp("space");
    game.keyUp("Right");
    ASSERT_TRUE(second) << "the first level never ended; " << game.describe();
    EXPECT_TRUE(third) << "the keys held into the second level did not carry the ball; " << game.describe();
    EXPECT_TRUE(game.stop()) << game.describe();
}

}  // namespace

int main(int argc, char** argv) { return testing_support::runTestsUnderXvfb(argc, argv); }
