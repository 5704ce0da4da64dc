// The end-of-level screen end to end through the app frame on real contexts (graphics, fonts,
// post-processing, sound, the save record in a scratch folder): the level's end freezes and drops
// the game, the board records once, and each way on leads where it should.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "game/EndOfLevelViewController.h"
#include "level/LevelCatalog.h"
#include "menus/tests/MenuFixture.h"
#include "menus/tests/RealContextsImpl.h"
#include "save/CloudSyncThread.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"

namespace {

struct Recorder {
    static inline std::vector<std::string> log;
};

// A sync worker that does no real syncing.
struct QuietSync : ::CloudSyncThread {
    QuietSync() : ::CloudSyncThread([](UniqueMessage) { return boost::none; }) {}
};

struct EndImpl : menus_test::RealContextsImpl {
    using EndOfLevelViewController = ::EndOfLevelViewController;
    using TriggerVariant = ::TriggerVariant;
    using CloudSyncThread = QuietSync;
    static void logEvent(char const* line) { Recorder::log.emplace_back(line); }
};

using App = os::AbstractApp<EndImpl>;

// The finished level: reports its end from its own update.
class Game : public ViewController {
public:
    explicit Game(bool* alive) : alive(alive) { *alive = true; }
    ~Game() override { *alive = false; }
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*) override {}
    void preDraw(Graphics::Context*) override {}
    void update(Audio::Context&, float, float) override {
        if (onUpdate) std::exchange(onUpdate, nullptr)();
    }
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}

    bool* alive;
    std::function<void()> onUpdate;
};

size_t indexOf(std::string const& path) { return LevelCatalog::findByPath(path).value_or(size_t(-1)); }

class EndOfLevel : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        ASSERT_TRUE(gl.ok());
        ASSERT_TRUE(menus_test::mountData());
        platform_services::setScreenSizes(1280, 720, menus_test::kWidth, menus_test::kHeight);
        gl.bindTarget();
        Recorder::log.clear();
        app = App::create();
        app->init(0, nullptr);
        auto owned = std::make_unique<Game>(&alive);
        game = owned.get();
        app->installViewController(std::move(owned));
        tick();
    }
    void TearDown() override { app.reset(); }
    void tick() { EndImpl::clock += 16, app->tick(); }
    template <class Done>
    bool until(Done&& done, int n = 3000) {
        for (int i = 0; i < n; ++i) {
            if (done()) return true;
            if (!app->renderContexts()->graphics.texturesLoaded())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            tick();
        }
        return done();
    }
    // Ends the level from the game's update and waits for the finished board.
    void finish(TriggerVariant const& result, std::string const& path, bool hardcore) {
        game->onUpdate = [=, this] { app->transitToEndOfLevel(result, path, "name", false, hardcore); };
        tick();
        screen = dynamic_cast<EndOfLevelViewController*>(app->screen());
        ASSERT_NE(screen, nullptr);
        ASSERT_TRUE(until([&] { return screen->state() == 3; }));
    }

    testing_support::TempDir documents;
    testing_support::GlTestContext gl{menus_test::kWidth, menus_test::kHeight};
    std::unique_ptr<App> app;
    bool alive = false;
    Game* game = nullptr;
    EndOfLevelViewController* screen = nullptr;
};

TEST_F(EndOfLevel, RecordsOnceGoesToLevelSelectBackAndTriesAgain) {
    size_t const level04 = indexOf("levels/level04.pxl");
    ASSERT_LT(level04, LevelCatalog::count());
    app->audio().setMusicVolume(0.8f);
    finish(ResultsMenu::NormalGameModeTriggerParameters(3, 3, 0, 50000.0f, level04), "levels/level04.pxl", false);

    // The game is gone once its frame is frozen; the music is down after a second.
    EXPECT_FALSE(alive);
    EXPECT_EQ(screen->game(), nullptr);
    EXPECT_TRUE(app->renderContexts()->postProcessing.hasCapture());
    for (int i = 0; i < 64; ++i) tick();
    EXPECT_FLOAT_EQ(app->audio().musicVolume(), 0.0f);
    {
        RoamingDataFile file("roamingData");
        ASSERT_TRUE(file.data.hasLevelEntry(uint32_t(level04)));
        EXPECT_EQ(file.data.levelEntry(uint32_t(level04)).goalFlags() & 7, 7);
    }

    // Continue: level select replaces the board; back shows the board without recording.
    ASSERT_NE(screen->results(), nullptr);
    app->buttonPressed(ViewController::buttonPause);  // the board's continue
    ASSERT_TRUE(until([&] { return screen->currentMenu() == EndOfLevelViewController::kLevelSelect; }));
    EXPECT_NE(screen->levelSelect(), nullptr);
    EXPECT_EQ(screen->results(), nullptr);
    screen->backToResults();
    ASSERT_TRUE(until([&] { return screen->results() != nullptr; }));
    EXPECT_EQ(screen->levelSelect(), nullptr);
    EXPECT_EQ(screen->results()->initState(), uint32_t(ResultsMenu::kImmediate));

    // Try again restarts the same level after one more frozen frame; the screen then waits.
    ASSERT_TRUE(until([&] { return screen->results()->isFinished(); }));
    EXPECT_TRUE(screen->results()->retryButton().activate());
    ASSERT_TRUE(until([&] { return screen->state() == 6; }));
    EXPECT_EQ(Recorder::log.back(), "RESTARTED_LEVEL_WITH_PATH: levels/level04.pxl");
    EXPECT_EQ(app->screen(), screen);
    EXPECT_FLOAT_EQ(app->renderContexts()->postProcessing.backdropTween().current.r, 1.0f);
}

TEST_F(EndOfLevel, HardcoreGoesToTheMainMenuAndTriesAgainFromTheFirstLevel) {
    // Where going on leads: the next normal level, bonus levels skipped.
    EXPECT_EQ(EndOfLevelViewController::nextNormalLevel("levels/level04.pxl"), indexOf("levels/level05.pxl"));
    EXPECT_EQ(EndOfLevelViewController::nextNormalLevel("levels/bonus04.pxl"), indexOf("levels/level17.pxl"));
    EXPECT_EQ(EndOfLevelViewController::nextNormalLevel("levels/nowhere.pxl"), LevelCatalog::count() - 1);

    ResultsMenu::HardcoreFailedGameModeTriggerParameters const died(90000.0f, 3, LevelCatalog::count());
    finish(died, "levels/level04.pxl", true);
    app->buttonPressed(ViewController::buttonPause);  // the board's continue
    ASSERT_TRUE(until([&] { return screen->state() == 6; }));
    EXPECT_EQ(screen->currentMenu(), EndOfLevelViewController::kLeaving);
    EXPECT_EQ(screen->levelSelect(), nullptr);
    EXPECT_TRUE(Recorder::log.empty());  // no level started

    // A fresh hardcore end: try again starts the run over at the first level.
    app->installViewController(std::make_unique<Game>(&alive));
    tick();
    game = static_cast<Game*>(app->screen());
    finish(died, "levels/level04.pxl", true);
    EXPECT_TRUE(screen->results()->retryButton().activate());
    ASSERT_TRUE(until([&] { return screen->state() == 6; }));
    EXPECT_EQ(Recorder::log.back(), "RESTARTED_HARDCORE_LEVEL_WITH_PATH: " + LevelCatalog::entry(0).path);
}

}  // namespace
