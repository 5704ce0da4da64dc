// The level loader end to end through the app frame on the real contexts and the built data,
// with a stand-in game screen that takes the real constructor arguments and records its calls.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "level/LevelCatalog.h"
#include "level/LevelReader.h"
#include "menus/LevelLoaderViewController.h"
#include "menus/tests/MenuFixture.h"
#include "menus/tests/RealContextsImpl.h"
#include "os/tests/ZipWriter.h"

using menus_test::kHeight;
using menus_test::kWidth;

namespace {

struct GameLog {
    int built = 0, updates = 0, zeroUpdates = 0, preDraws = 0, updatesAsCurrent = 0, signalsBeforeFirst = -1;
    std::string path, name;
    bool previousAliveAtBuild = false, restart = false, skipTutorial = false, hardcore = false, levelEmpty = true, callbacksSet = false;
    uint32_t loaderStateAtFirstPreDraw = 99;
};
GameLog gameLog;
int signals = 0;
bool const* previousAlive = nullptr;  // the screen the level was started from

class StubGame : public ViewController {
public:
    StubGame(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts, EventHandler* events,
             std::string const& path, std::string const& name, PostProcessingStep* post,
             TransitToEndOfLevelCallback const& endOfLevel, TriggerPauseMenuCallback const& pause,
             ShowConfirmationBoxCallback const& question, bool restart, StartLevelCallback const& startLevel,
             PristineLevel::Data&& level, bool skipTutorial, TransitToMainMenuCallback const& mainMenu,
             bool hardcore) {
        ++gameLog.built;
        gameLog.previousAliveAtBuild = previousAlive && *previousAlive;
        gameLog.path = path;
        gameLog.name = name;
        gameLog.restart = restart;
        gameLog.skipTutorial = skipTutorial;
        gameLog.hardcore = hardcore;
        gameLog.levelEmpty = level.staticShapes.empty() && level.coins.empty() && level.checkPoints.empty();
        gameLog.callbacksSet = graphics && audio && fonts && events && post && endOfLevel && pause && question &&
                               startLevel && mainMenu;
    }
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*) override {}
    void preDraw(Graphics::Context*) override { ++gameLog.preDraws; }
    void update(Audio::Context&, float dt, float) override {
        ++gameLog.updates;
        if (dt == 0.0f && !installed) ++gameLog.zeroUpdates;
        if (installed) {
            if (gameLog.updatesAsCurrent++ == 0) gameLog.signalsBeforeFirst = signals;
        }
    }
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}
    bool installed = false;
};

using Loader = LevelLoaderViewController<StubGame>;

struct LoaderImpl : menus_test::RealContextsImpl {
    using LevelLoaderViewController = Loader;
    using TriggerVariant = ::TriggerVariant;
};
using App = os::AbstractApp<LoaderImpl>;

// The screen a level is started from: starts it from inside its own touch handler, then reads
// its own members, as a menu does.
class Previous : public ViewController {
public:
    explicit Previous(bool* alive) : alive(alive) { *alive = true; }
    ~Previous() override { *alive = false; }
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*) override { ++overlays; }
    void preDraw(Graphics::Context*) override {}
    void update(Audio::Context&, float, float) override {}
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {
        if (start) start();
        ++touches;
    }
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}
    bool* alive;
    int overlays = 0, touches = 0;
    std::function<void()> start;
};

struct LoadRun {
    std::vector<uint32_t> states;  // after each tick while the loader is current
    bool burstMatches = true, stateSkipped = false;
    int previousOverlaysAfterState2 = 0;
    int ticks = 0;
};

class LevelLoader : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gl.ok());
        ASSERT_TRUE(menus_test::mountData());
        platform_services::setScreenSizes(1280, 720, kWidth, kHeight);
        gl.bindTarget();
        gameLog = GameLog{};
        signals = 0;
        app = App::create();
        app->init(0, nullptr);
        slot = [] { ++signals; };
        app->events().subscribe(LevelLoading::kLevelStartSignal, &slot);
    }
    void TearDown() override {
        app->events().unsubscribe(LevelLoading::kLevelStartSignal, &slot);
        app.reset();
    }

    // Starts the level from a tap on a fresh previous screen and ticks until the game screen is
    // current, checking the loader's invariants on every tick.
    LoadRun load(std::string const& path, std::string const& name, bool restart, bool skipTutorial = false,
             bool hardcore = false) {
        LoadRun run;
        auto owned = std::make_unique<Previous>(&previousAlive);
        ::previousAlive = &previousAlive;
        Previous* previous = owned.get();
        app->installViewController(std::move(owned));
        tick();
        previous->start = [&] { app->startLevel(path, name, restart, skipTutorial, hardcore); };
        app->touchBegan(1, 10, 10);
        EXPECT_FALSE(previousAlive && previous->touches != 1);  // the handler finished on a live screen
        auto* loader = dynamic_cast<Loader*>(app->screen());
        EXPECT_NE(loader, nullptr);
        if (!loader) return run;
        card = loader->loadingScreen() != nullptr;
        uint32_t last = 0;
        for (int n = 0; n < 3000 && app->screen() == loader; ++n) {
            if (!app->renderContexts()->graphics.texturesLoaded())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            int const overlaysBefore = previousAlive ? previous->overlays : 0;
            tick();
            ++run.ticks;
            if (app->screen() != loader) break;
            uint32_t const s = loader->state();
            if (s > last + 1 || s < last) run.stateSkipped = true;
            last = s;
            run.states.push_back(s);
            if (app->renderContexts()->graphics.burstLoading() != (s == 1 || s == 3)) run.burstMatches = false;
            if (s >= 3 && previousAlive) run.previousOverlaysAfterState2 += previous->overlays - overlaysBefore;
        }
        game = dynamic_cast<StubGame*>(app->screen());
        if (game) game->installed = true;
        tick();
        tick();
        return run;
    }
    void tick() {
        LoaderImpl::clock += 16;
        app->tick();
    }

    testing_support::GlTestContext gl{kWidth, kHeight};
    std::unique_ptr<App> app;
    std::function<void()> slot;
    bool previousAlive = false, card = false;
    StubGame* game = nullptr;
};

TEST_F(LevelLoader, ACatalogLevelLoadsThroughTheCardIntoTheGameScreen) {
    LoadRun const run = load("levels/level01.pxl", "level01Name", false, true, false);
    ASSERT_NE(game, nullptr);
    EXPECT_TRUE(card);
    EXPECT_FALSE(run.stateSkipped);
    EXPECT_TRUE(run.burstMatches);
    EXPECT_FALSE(gameLog.previousAliveAtBuild);  // destroyed before the level was read
    EXPECT_FALSE(previousAlive);
    // Every state seen, each moved on in its own update.
    for (uint32_t s = 1; s <= 5; ++s)
        EXPECT_NE(std::find(run.states.begin(), run.states.end(), s), run.states.end()) << s;
    // Built once from the sample level with the loader's arguments; one zero-length update
    // before the hand-over, then updated as the current screen after the signal arrived.
    EXPECT_EQ(gameLog.built, 1);
    EXPECT_EQ(gameLog.path, "levels/level01.pxl");
    EXPECT_EQ(gameLog.name, "level01Name");
    EXPECT_TRUE(gameLog.skipTutorial);
    EXPECT_FALSE(gameLog.restart || gameLog.hardcore);
    EXPECT_TRUE(gameLog.callbacksSet);
    EXPECT_FALSE(gameLog.levelEmpty);
    EXPECT_EQ(gameLog.zeroUpdates, 1);
    EXPECT_EQ(gameLog.updates - gameLog.updatesAsCurrent, 1);
    EXPECT_GT(gameLog.preDraws, 3);
    EXPECT_EQ(signals, 1);
    EXPECT_EQ(gameLog.signalsBeforeFirst, 1);
    // The post-processing is left clean: no capture held, fading in from black.
    PostProcessingStep& post = app->renderContexts()->postProcessing;
    EXPECT_FALSE(post.hasCapture());
    EXPECT_TRUE(post.isColorFading());
    EXPECT_FALSE(app->renderContexts()->graphics.burstLoading());

    // A second level from the game screen: the old loader and card are long gone (ASan).
    gameLog = GameLog{};
    LoadRun const again = load("levels/level02.pxl", "level02Name", false);
    EXPECT_EQ(gameLog.built, 1);
    EXPECT_EQ(signals, 2);
}

TEST_F(LevelLoader, ARestartOrAnIntroLevelHasNoCardAndARestartKeepsTheOldScreenUntilTheNewOne) {
    LoadRun const restart = load("levels/level01.pxl", "level01Name", true, false, true);
    ASSERT_NE(game, nullptr);
    EXPECT_FALSE(card);
    EXPECT_TRUE(gameLog.previousAliveAtBuild);
    EXPECT_EQ(restart.previousOverlaysAfterState2, 0);
    EXPECT_FALSE(previousAlive);
    EXPECT_TRUE(gameLog.restart && gameLog.hardcore);
    EXPECT_FALSE(restart.stateSkipped);
    EXPECT_TRUE(restart.burstMatches);

    gameLog = GameLog{};
    LoadRun const intro = load("levels/level01_intro.pxl", "", false);
    ASSERT_NE(game, nullptr);
    EXPECT_FALSE(card);
    EXPECT_FALSE(gameLog.levelEmpty);
    EXPECT_EQ(signals, 2);
}

TEST_F(LevelLoader, MissingDamagedAndUnnamedLevelFilesStillEndInAGameScreen) {
    // Damaged levels beside a localized variant and a path without an extension.
    std::string const good = [] {
        auto f = Singleton<FileSystem>::instance().open("levels/level02.pxl");
        return std::string(reinterpret_cast<char const*>(f->data()), size_t(f->size()));
    }();
    std::string huge = good;
    huge[3] = char(0x7f);
    std::string garbled = good;
    for (size_t i = 8; i < garbled.size(); i += 7) garbled[i] = char(garbled[i] ^ 0x5a);
    auto const zip = std::filesystem::temp_directory_path() / ("zelv-loader-" + std::to_string(getpid()) + ".zip");
    ziptest::writeFile(zip, ziptest::build({{"levels/level02_ja_JP.pxl", good.substr(0, 40)},
                                                  {"levels/short.pxl", "ab"},
                                                  {"levels/huge.pxl", huge},
                                                  {"levels/garbled.pxl", garbled},
                                                  {"levels/noext", good}}));
    ASSERT_NE(Singleton<FileSystem>::instance().mount(zip.string()), nullptr);
    std::filesystem::remove(zip);

    // The localized variant wins whenever it exists; without one, or without '.', the path.
    EXPECT_EQ(LevelLoading::chooseLevelFile("levels/level02.pxl", "ja_JP"), "levels/level02_ja_JP.pxl");
    EXPECT_EQ(LevelLoading::chooseLevelFile("levels/level01.pxl", "ja_JP"), "levels/level01.pxl");
    EXPECT_EQ(LevelLoading::chooseLevelFile("levels/noext", "ja_JP"), "levels/noext");
    EXPECT_EQ(LevelLoading::chooseLevelFile("levels/missing.pxl", "ja_JP"), "");
    EXPECT_EQ(LevelLoading::chooseLevelFile("noext", nullptr), "");

    load("levels/missing.pxl", "x", false);
    ASSERT_NE(game, nullptr);
    EXPECT_TRUE(gameLog.levelEmpty);
    for (char const* path : {"levels/short.pxl", "levels/huge.pxl", "levels/garbled.pxl", "levels/noext"}) {
        gameLog = GameLog{};
        game = nullptr;
        load(path, "x", false);
        EXPECT_NE(game, nullptr) << path;
        EXPECT_EQ(gameLog.built, 1) << path;
    }
    EXPECT_FALSE(gameLog.levelEmpty);  // the unnamed path read whole
    EXPECT_EQ(signals, 5);
}

class Card : public menus_test::MenuFixture {};

TEST_F(Card, SlidesInOverOneSecondIsShownOneUpdateLaterAndTurnsItsGearEveryUpdate) {
    LevelLoadingScreen card(graphics.get(), audio, fonts.get(), "noSuchKey");
    card.preDraw();
    EXPECT_FLOAT_EQ(card.offset(), 720.0f);  // hidden: a full screen height up
    EXPECT_EQ(card.gear().frameCount(), 30u);
    card.update(16.0f);  // not shown yet: only the gear turns
    EXPECT_EQ(card.state(), LevelLoadingScreen::kHidden);
    card.show();
    float const step = card.gear().step();
    float before = card.gear().time();
    card.update(0.0f);
    EXPECT_EQ(card.progress(), 0.0f);
    EXPECT_FLOAT_EQ(card.gear().time(), before + step);
    int updates = 1;
    while (card.progress() < 1.0f && updates < 1000) {
        card.update(10.0f);
        ++updates;
        EXPECT_FALSE(card.isShown());
    }
    EXPECT_NEAR(updates, 101, 1);  // 100 steps of 10 ms, give or take float rounding
    EXPECT_FALSE(card.isShown());
    card.update(10.0f);
    EXPECT_TRUE(card.isShown());
    card.preDraw();
    EXPECT_NEAR(card.offset(), 0.0f, 1e-3f);
    // 30 frames then round again.
    before = card.gear().time();
    for (int i = 0; i < 30; ++i) card.update(0.0f);
    EXPECT_NEAR(card.gear().time(), before, 1e-2f);
    card.playSound();
    EXPECT_TRUE(card.isSoundPlaying());
    ASSERT_TRUE(loadTextures());
    frame(glm::vec4(0, 0, 0, 1), [&] { card.draw(graphics.get(), shader.get()); });
    EXPECT_NE(gl.pixel(kWidth / 2, kHeight / 2) & 0xffffff, 0u);  // the panel is drawn in place
}

}  // namespace
