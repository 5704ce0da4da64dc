// The game launched in order on a real window under Xvfb, with the real app frame: it runs frames,
// goes on without the focus, stops while the window is minimised, comes back when it is restored,
// survives a low-memory warning, fetches and mounts "pak1" from a file URL, and terminates cleanly.
#include <gtest/gtest.h>

#include <SDL.h>
#include <unistd.h>
#include <csignal>

#include <cstdlib>
#include <cstring>

#include "analytics/crash/SignalHandler.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/ShellServices.h"
#include "os/shell/AppDelegate.h"
#include "os/shell/DesktopShellPlatform.h"
#include "os/shell/Impl.h"
#include "os/shell/MainQueue.h"
#include "testing/TestPaths.h"
#include "testing/XInput.h"

namespace {

void pushWindowEvent(Uint8 which) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = which;
    SDL_Window* w = SDL_GL_GetCurrentWindow();
    e.window.windowID = w ? SDL_GetWindowID(w) : 0;
    SDL_PushEvent(&e);
}

void pushEvent(Uint32 type) {
    SDL_Event e{};
    e.type = type;
    SDL_PushEvent(&e);
}

TEST(Launch, RealWindowInOrderSurvivesFocusLossAndLowMemory) {
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
        EXPECT_EQ(delegate.launchSteps(),
                  (std::vector<std::string>{"name main thread", "start analytics session", "enter resource directory",
                                            "mount pak0.pak", "create window", "create root view controller",
                                            "create GL view", "show window", "create app frame",
                                            "make context current", "disable idle timer", "set up audio session",
                                            "start display link", "configure rating prompt", "start download",
                                            "observe reachability", "start reachability"}));
        // The game switches no crash reporting on: no fatal signal reaches the reporter.
        for (int signo : {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP})
            EXPECT_FALSE(TallyTLCrashSignalHandler::isTrampolineInstalled(signo)) << signo;
        EXPECT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        EXPECT_STREQ(name, "MainThread");

        auto runFrames = [&](int passes) {
            for (int i = 0; i < passes; ++i) ASSERT_TRUE(delegate.runOnce());
        };
        runFrames(30);
        EXPECT_GE(delegate.frames(), 30u);

        // Without the focus the window still draws; hidden, it stops.
        pushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
        runFrames(10);
        EXPECT_TRUE(delegate.hasDisplayLink());
        EXPECT_GE(delegate.frames(), 40u);
        pushWindowEvent(SDL_WINDOWEVENT_MINIMIZED);
        runFrames(1);
        EXPECT_FALSE(delegate.hasDisplayLink());
        uint64_t const frozen = delegate.frames();
        runFrames(10);
        EXPECT_EQ(delegate.frames(), frozen);
        pushEvent(SDL_APP_LOWMEMORY);  // while inactive: the app frame trims
        runFrames(1);

        pushWindowEvent(SDL_WINDOWEVENT_RESTORED);
        pushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED);
        runFrames(20);
        EXPECT_TRUE(delegate.hasDisplayLink());
        EXPECT_GE(delegate.frames(), frozen + 19);
        pushEvent(SDL_APP_LOWMEMORY);  // while active: nothing to trim, frames go on
        runFrames(20);
        EXPECT_GE(delegate.frames(), frozen + 39);

        // "pak1" from the file URL beside pak0.pak, into the cache folder, mounted.
        for (int i = 0; i < 300 && downloadState() != 4; ++i) runFrames(1);
        EXPECT_EQ(downloadState(), 4);
        EXPECT_TRUE(std::filesystem::exists(home / "cache" / "zelv" / "pak1.pak"));

        pushEvent(SDL_QUIT);
        EXPECT_FALSE(delegate.runOnce());
        delegate.applicationWillTerminate();
        EXPECT_EQ(delegate.app(), nullptr);
    }
    os::MainQueue::shared().clear();
}

}  // namespace

// The window needs a display: without one the test runs itself again under Xvfb.
int main(int argc, char** argv) { return testing_support::runTestsUnderXvfb(argc, argv); }
