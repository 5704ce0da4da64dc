// The end-of-level screen through the app frame on real contexts and a scratch save record:
// the game is frozen and dropped, the board records once, and each way on leads where it should.
#include <gtest/gtest.h>
#include <chrono>
#include <thread>

#include "game/EndOfLevelViewController.h"
#include "level/LevelCatalog.h"
#include "menus/tests/MenuFixture.h"
#include "menus/tests/RealContextsImpl.h"
#include "save/CloudSyncThread.h"
#include "save/RoamingDataFile.h"

namespace {
struct QuietSync : ::CloudSyncThread {
    QuietSync() : ::CloudSyncThread([](UniqueMessage) { return boost::none; }) {}
};
struct EndImpl : menus_test::RealContextsImpl {
    using EndOfLevelViewController = ::EndOfLevelViewController;
    using TriggerVariant = ::TriggerVariant;
    using CloudSyncThread = QuietSync;
    static inline std::vector<std::string> log;
    static void logEvent(char const* line) { log.emplace_back(line); }
};
using App = os::AbstractApp<EndImpl>;
// The finished level: reports its end from its own update.
struct Game : ViewController {
    explicit Game(bool* alive) : alive(alive) { *alive = true; }
    ~Game() override { *alive = false; }
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*) override {}
    void preDraw(Graphics::Context*) override {}
    void update(Audio::Context&, float, float) override { std::exchange(onUpdate, [] {})(); }
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}
    bool* alive;
    std::function<void()> onUpdate = [] {};
};
size_t indexOf(std::string const& path) { return LevelCatalog::findByPath(path).value_or(size_t(-1)); }
TEST(EndOfLevel, RecordsOnceAndLeadsOnToLevelSelectRetryAndTheMainMenu) {
    testing_support::TempDir documents;
    setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
    testing_support::GlTestContext gl{menus_test::kWidth, menus_test::kHeight};
    ASSERT_TRUE(gl.ok() && menus_test::mountData());
    platform_services::setScreenSizes(1280, 720, menus_test::kWidth, menus_test::kHeight);
    gl.bindTarget();
    auto app = App::create();
    app->init(0, nullptr);
    bool alive = false;
    EndOfLevelViewController* screen = nullptr;
    auto until = [&](auto done) {
        for (int i = 0; i < 3000 && !done(); ++i) {
            if (!app->renderContexts()->graphics.texturesLoaded()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            EndImpl::clock += 16, app->tick();
        }
        return done();
    };
    // Ends a level from the game's own update and waits for the finished board.
    auto finish = [&](TriggerVariant const& result, bool hardcore) {
        auto game = std::make_unique<Game>(&alive);
        game->onUpdate = [&, result, hardcore] { app->transitToEndOfLevel(result, "levels/level04.pxl", "n", false, hardcore); };
        app->installViewController(std::move(game));
        app->tick();
        screen = dynamic_cast<EndOfLevelViewController*>(app->screen());
        return screen && until([&] { return screen->state() == 3; });
    };
    // Where going on leads: the next normal level, bonus levels skipped.
    EXPECT_EQ(EndOfLevelViewController::nextNormalLevel("levels/level04.pxl"), indexOf("levels/level05.pxl"));
    EXPECT_EQ(EndOfLevelViewController::nextNormalLevel("levels/bonus04.pxl"), indexOf("levels/level17.pxl"));
    EXPECT_EQ(EndOfLevelViewController::nextNormalLevel("levels/nowhere.pxl"), LevelCatalog::count() - 1);
    size_t const level04 = indexOf("levels/level04.pxl");
    app->audio().setMusicVolume(0.8f);
    ASSERT_TRUE(finish(ResultsMenu::NormalGameModeTriggerParameters(3, 3, 0, 50000.0f, level04), false));
    EXPECT_TRUE(!alive && app->renderContexts()->postProcessing.hasCapture());
    EXPECT_TRUE(until([&] { return app->audio().musicVolume() == 0.0f; }));
    ASSERT_TRUE(RoamingDataFile("roamingData").data.hasLevelEntry(uint32_t(level04)));
    EXPECT_EQ(RoamingDataFile("roamingData").data.levelEntry(uint32_t(level04)).goalFlags() & 7, 7);
    // Continue opens level select; back shows the board again without recording.
    app->buttonPressed(ViewController::buttonPause);
    ASSERT_TRUE(until([&] { return screen->currentMenu() == EndOfLevelViewController::kLevelSelect; }));
    EXPECT_TRUE(screen->levelSelect() && !screen->results());
    screen->backToResults();
    ASSERT_TRUE(until([&] { return screen->results() != nullptr; }));
    EXPECT_TRUE(!screen->levelSelect() && screen->results()->initState() == ResultsMenu::kImmediate);
    ASSERT_TRUE(until([&] { return screen->results()->isFinished(); }));
    // Try again restarts the level after one more frozen frame; the screen then waits.
    EXPECT_TRUE(screen->results()->retryButton().activate());
    ASSERT_TRUE(until([&] { return screen->state() == 6; }));
    EXPECT_EQ(EndImpl::log.back(), "RESTARTED_LEVEL_WITH_PATH: levels/level04.pxl");
    EXPECT_FLOAT_EQ(app->renderContexts()->postProcessing.backdropTween().current.r, 1.0f);

    // Hardcore: going on leads to the main menu (no level starts); try again restarts the run.
    ResultsMenu::HardcoreFailedGameModeTriggerParameters const died(90000.0f, 3, LevelCatalog::count());
    size_t const logged = EndImpl::log.size();
    ASSERT_TRUE(finish(died, true));
    app->buttonPressed(ViewController::buttonPause);
    ASSERT_TRUE(until([&] { return screen->state() == 6; }));
    EXPECT_TRUE(screen->currentMenu() == EndOfLevelViewController::kLeaving && !screen->levelSelect());
    EXPECT_EQ(EndImpl::log.size(), logged);
    ASSERT_TRUE(finish(died, true));
    EXPECT_TRUE(screen->results()->retryButton().activate());
    ASSERT_TRUE(until([&] { return screen->state() == 6; }));
    EXPECT_EQ(EndImpl::log.back(), "RESTARTED_HARDCORE_LEVEL_WITH_PATH: " + LevelCatalog::entry(0).path);
}

// While the second archive is not mounted the download bar comes in after the results, and while
// its box is up the player's input goes to the box, not the board.
TEST(EndOfLevel, DownloadBarAfterTheResultsTakesInputWhileItsBoxIsUp) {
    testing_support::TempDir documents;
    setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
    testing_support::GlTestContext gl{menus_test::kWidth, menus_test::kHeight};
    ASSERT_TRUE(gl.ok() && menus_test::mountData());
    platform_services::setScreenSizes(1280, 720, menus_test::kWidth, menus_test::kHeight);
    gl.bindTarget();
    BackgroundDownloaderOverlay::resetRunFlags();
    auto app = App::create();
    app->init(0, nullptr);
    bool alive = false;
    auto until = [&](auto done) {
        for (int i = 0; i < 3000 && !done(); ++i) {
            if (!app->renderContexts()->graphics.texturesLoaded()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            EndImpl::clock += 16, app->tick();
        }
        return done();
    };
    auto finish = [&]() -> EndOfLevelViewController* {
        auto game = std::make_unique<Game>(&alive);
        game->onUpdate = [&] {
            ResultsMenu::NormalGameModeTriggerParameters const result(1, 3, 0, 50000.0f, indexOf("levels/level04.pxl"));
            app->transitToEndOfLevel(result, "levels/level04.pxl", "n", false, false);
        };
        app->installViewController(std::move(game));
        app->tick();
        return dynamic_cast<EndOfLevelViewController*>(app->screen());
    };

    shell_services::setDownloadState(4);
    EndOfLevelViewController* screen = finish();
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->downloadOverlay(), nullptr);

    // Paused for want of disk space: nothing until the board has finished, then the bar and its box.
    shell_services::setDownloadState(1);
    shell_services::setDownloadPausedReason(2);
    shell_services::setDownloadProgress(0.3f);
    screen = finish();
    ASSERT_TRUE(screen && screen->downloadOverlay());
    BackgroundDownloaderOverlay& bar = *screen->downloadOverlay();
    ASSERT_TRUE(until([&] { return screen->state() >= 2; }));
    EXPECT_EQ(bar.targetShownState(), 0u);
    EXPECT_FALSE(bar.noDiskSpaceBox().isActive());
    ASSERT_TRUE(until([&] { return screen->state() == 3; }));
    ASSERT_TRUE(until([&] { return bar.noDiskSpaceBox().state() == ConfirmationBox::kInteractive; }));
    EXPECT_EQ(bar.shownState(), 1u);
    EXPECT_TRUE(bar.isBlockingInput());
    app->buttonPressed(ViewController::buttonPause);  // closes the box; the board stays
    ASSERT_TRUE(until([&] { return !bar.noDiskSpaceBox().isActive(); }));
    EXPECT_EQ(screen->currentMenu(), EndOfLevelViewController::kResults);
    app->buttonPressed(ViewController::buttonPause);  // now the board goes on
    EXPECT_TRUE(until([&] { return screen->currentMenu() == EndOfLevelViewController::kLevelSelect; }));
    shell_services::setDownloadState(0);
    shell_services::setDownloadPausedReason(0);
}

}  // namespace
