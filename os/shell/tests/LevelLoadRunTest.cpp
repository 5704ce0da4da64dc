// The main menu, its level select and sample levels through the loader and its card on a real window under Xvfb
// (LaunchTest.cpp's main), with the real app frame and game screen.
#include <gtest/gtest.h>

#include <GLES2/gl2.h>
#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "game/GameViewController.h"
#include "menus/LevelSelectMenu.h"
#include "menus/MainMenuViewController.h"
#include "os/shell/AppDelegate.h"
#include "os/shell/DesktopShellPlatform.h"
#include "os/shell/Impl.h"
#include "os/shell/MainQueue.h"
#include "testing/TestPaths.h"

namespace {

using Loader = os::Impl::LevelLoaderViewController;

// How many of a grid of window pixels are not black, read from the frame just drawn.
int litPixels() {
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(SDL_GL_GetCurrentWindow(), &w, &h);
    int lit = 0;
    for (int g = 0; g < 49; ++g) {
        unsigned char p[4] = {};
        glReadPixels(w * (g % 7 + 1) / 8, h * (g / 7 + 1) / 8, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        lit += p[0] > 8 || p[1] > 8 || p[2] > 8;
    }
    return lit;
}

// A left click at a point of the logical screen (y upward).
void click(glm::vec2 const& at) {
    int w = 0, h = 0;
    SDL_GetWindowSize(SDL_GL_GetCurrentWindow(), &w, &h);
    for (Uint32 type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) {
        SDL_Event e{};
        e.button = {type, 0, 0, 0, SDL_BUTTON_LEFT, 0, 1, 0, int(at.x * float(w) / virtualWidth()),
                    int(float(h) - at.y * float(h) / virtualHeight())};
        SDL_PushEvent(&e);
    }
}

TEST(LevelLoadRun, ATapOnTheFirstLevelStartsItAndTheNextLevelLoadsThroughTheCard) {
    char const* driver = std::getenv("SDL_VIDEODRIVER");
    ASSERT_TRUE(driver && std::strcmp(driver, "x11") == 0) << "expected to run under Xvfb";
    testing_support::pinGlDriver();
    testing_support::TempDir home;
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("ZELV_DOCUMENTS_DIR", (home / "documents").c_str(), 1);
    unsetenv("ZELV_PAK1_URL");
    os::DesktopShellPlatform platform(testing_support::binaryDir().string());
    os::AppDelegate delegate(platform, [] { return std::make_unique<os::AppFrameOf<os::App>>(); });
    ASSERT_TRUE(delegate.applicationDidFinishLaunching());
    auto runUntil = [&](auto done) {
        for (int i = 0; i < 3000 && !done(); ++i) ASSERT_TRUE(delegate.runOnce());
    };
    runUntil([&] { return delegate.app() && delegate.frames() > 10; });
    os::App& app = dynamic_cast<os::AppFrameOf<os::App>&>(*delegate.app()).app();
    // The opening cut-scene leads on to the main menu; the player clicks play.
    runUntil([&] {
        auto* main = dynamic_cast<MainMenuViewController*>(app.screen());
        return main && main->startMenu().state() == 4;
    });
    auto* mainMenu = dynamic_cast<MainMenuViewController*>(app.screen());
    ASSERT_NE(mainMenu, nullptr);
    EXPECT_GT(litPixels(), 10) << "the main menu";
    click(glm::vec2(640.0f, 360.0f - 192.0f));
    // Then taps the first level in the level select and answers the tutorial question.
    LevelSelectMenu& menu = mainMenu->levelSelect();
    runUntil([&] { return menu.state() == 5; });
    EXPECT_GT(litPixels(), 10) << "the level select";
    click(glm::vec2(640.0f - 206.0f, 360.0f + 41.0f));
    runUntil([&] { return menu.tutorialBox().state() == ConfirmationBox::kInteractive; });
    Rect const yes = menu.tutorialBox().affirmativeButton().button().hitRect();
    click(glm::vec2((yes.minX + yes.maxX) / 2, (yes.minY + yes.maxY) / 2));
    runUntil([&] { return dynamic_cast<Loader*>(app.screen()) != nullptr; });
    auto* loader = dynamic_cast<Loader*>(app.screen());
    ASSERT_NE(loader, nullptr);
    EXPECT_EQ(loader->loadingScreen(), nullptr);  // the intro level goes first, without the card
    runUntil([&] { return app.screen() != loader; });
    ASSERT_NE(dynamic_cast<GameViewController*>(app.screen()), nullptr);

    // The next level through the card, as the results screen starts it.
    app.startLevel("levels/level02.pxl", "level02Name", false, false, false);
    loader = dynamic_cast<Loader*>(app.screen());
    ASSERT_TRUE(loader && loader->loadingScreen());
    runUntil([&] { return app.screen() != loader || loader->loadingScreen()->isShown(); });
    ASSERT_EQ(app.screen(), loader);
    EXPECT_GT(litPixels(), 10) << "the card over the dimmed level";
    runUntil([&] { return app.screen() != loader; });
    auto* game = dynamic_cast<GameViewController*>(app.screen());
    ASSERT_NE(game, nullptr);
    for (int i = 0; i < 90; ++i) ASSERT_TRUE(delegate.runOnce());  // through the fade in
    EXPECT_EQ(app.screen(), game);
    EXPECT_GT(litPixels(), 10) << "the level on screen";
    delegate.applicationWillTerminate();
    os::MainQueue::shared().clear();
}

}  // namespace
