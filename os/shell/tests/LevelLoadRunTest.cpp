// A sample level started on a real window under Xvfb (LaunchTest.cpp's main) through the real
// app frame: the loader with its card takes over, the game screen follows, and the window shows
// a picture all the way.
#include <gtest/gtest.h>

#include <GLES2/gl2.h>
#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "game/GameViewController.h"
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
    for (int gy = 1; gy < 8; ++gy)
        for (int gx = 1; gx < 8; ++gx) {
            unsigned char p[4] = {};
            glReadPixels(w * gx / 8, h * gy / 8, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
            if (p[0] > 8 || p[1] > 8 || p[2] > 8) ++lit;
        }
    return lit;
}

TEST(LevelLoadRun, ASampleLevelLoadsThroughTheCardIntoTheGameScreen) {
    char const* driver = std::getenv("SDL_VIDEODRIVER");
    ASSERT_TRUE(driver && std::strcmp(driver, "x11") == 0) << "expected to run under Xvfb";
    testing_support::pinGlDriver();
    testing_support::TempDir home;
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("ZELV_DOCUMENTS_DIR", (home / "documents").c_str(), 1);
    unsetenv("ZELV_PAK1_URL");
    {
        os::DesktopShellPlatform platform(testing_support::binaryDir().string());
        os::AppDelegate delegate(platform, [] { return std::make_unique<os::AppFrameOf<os::App>>(); });
        ASSERT_TRUE(delegate.applicationDidFinishLaunching());
        for (int i = 0; i < 10; ++i) ASSERT_TRUE(delegate.runOnce());
        auto* frame = dynamic_cast<os::AppFrameOf<os::App>*>(delegate.app());
        ASSERT_NE(frame, nullptr);
        os::App& app = frame->app();
        app.startLevel("levels/level01.pxl", "level01Name", false, true, false);
        auto* loader = dynamic_cast<Loader*>(app.screen());
        ASSERT_NE(loader, nullptr);
        ASSERT_NE(loader->loadingScreen(), nullptr);

        bool cardShown = false;
        int cardLit = 0, frames = 0;
        while (app.screen() == loader && frames < 3000) {
            ASSERT_TRUE(delegate.runOnce());
            ++frames;
            if (app.screen() != loader) break;
            if (loader->loadingScreen()->isShown() && !cardShown) {
                cardShown = true;
                cardLit = litPixels();
            }
        }
        EXPECT_TRUE(cardShown);
        EXPECT_GT(cardLit, 10) << "the card over the dimmed menu";
        auto* game = dynamic_cast<GameViewController*>(app.screen());
        ASSERT_NE(game, nullptr) << "after " << frames << " frames";
        for (int i = 0; i < 90; ++i) ASSERT_TRUE(delegate.runOnce());  // through the fade in
        EXPECT_EQ(app.screen(), game);
        EXPECT_GT(litPixels(), 10) << "the level on screen";

        SDL_Event quit{};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
        EXPECT_FALSE(delegate.runOnce());
        delegate.applicationWillTerminate();
    }
    os::MainQueue::shared().clear();
}

}  // namespace
