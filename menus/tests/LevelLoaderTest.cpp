// The level loader through the app frame on the real contexts and the built data, with a
// stand-in game screen that takes the real constructor arguments and records its calls.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "menus/LevelLoaderViewController.h"
#include "menus/tests/MenuFixture.h"
#include "menus/tests/RealContextsImpl.h"
#include "os/tests/ZipWriter.h"

namespace {

struct GameLog {
    int built = 0, zeroUpdates = 0, preDraws = 0, signalsAtFirstUpdate = -1;
    std::string path, failure;
    bool restart = false, skip = false, empty = true, previousAlive = false;
} game;
int signals = 0;
bool previousAlive = false, installed = false;

class StubGame : public ViewController {
public:
    StubGame(Graphics::Context*, Audio::Context*, Fonts::Context*, EventHandler*, std::string const& path,
             std::string const&, PostProcessingStep*, TransitToEndOfLevelCallback const&,
             TriggerPauseMenuCallback const&, ShowConfirmationBoxCallback const&, bool restart,
             StartLevelCallback const&, PristineLevel::Data&& level, bool skip, TransitToMainMenuCallback const&,
             bool) {
        game = GameLog{1, 0, 0, -1, path, {}, restart, skip, level.staticShapes.empty(), previousAlive};
    }
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*) override {}
    void preDraw(Graphics::Context*) override { ++game.preDraws; }
    void update(Audio::Context&, float dt, float) override {
        if (!installed) game.zeroUpdates += dt == 0.0f;
        if (installed && game.signalsAtFirstUpdate < 0) game.signalsAtFirstUpdate = signals;
    }
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}
    void showLoadFailure(std::string const& what) { game.failure = what; }
};
using Loader = LevelLoaderViewController<StubGame>;
struct LoaderImpl : menus_test::RealContextsImpl {
    using LevelLoaderViewController = Loader;
    using TriggerVariant = ::TriggerVariant;
};
using App = os::AbstractApp<LoaderImpl>;

// The screen a level is started from, from inside its own touch handler.
struct Previous : StubGame {
    Previous() : StubGame(nullptr, nullptr, nullptr, nullptr, "", "", nullptr, {}, {}, {}, false, {}, {}, false, {}, false) {
        previousAlive = true;
    }
    ~Previous() override { previousAlive = false; }
    void touchBegan(glm::vec2 const&, uint32_t) override { start(); }
    std::function<void()> start;
};

class LevelLoader : public menus_test::MenuFixture {
protected:
    void SetUp() override {
        MenuFixture::SetUp();
        app = App::create();
        app->init(0, nullptr);
        app->events().subscribe(LevelLoading::kLevelStartSignal, &slot);
    }
    void TearDown() override { app->events().unsubscribe(LevelLoading::kLevelStartSignal, &slot); }

    // Starts the level and ticks until the game screen is current, checking on every tick that
    // states move one at a time and burst loading is on exactly in states 1 and 3 (set by 0 and 2).
    void load(std::string const& path, bool restart, bool skip = false) {
        auto owned = std::make_unique<Previous>();
        Previous* previous = owned.get();
        app->installViewController(std::move(owned));
        installed = false;
        tick();
        previous->start = [&] { app->startLevel(path, "level01Name", restart, skip, false); };
        app->touchBegan(1, 10, 10);
        auto* loader = dynamic_cast<Loader*>(app->screen());
        ASSERT_NE(loader, nullptr);
        card = loader->loadingScreen() != nullptr;
        for (uint32_t last = 0, n = 0; n < 3000 && app->screen() == loader; ++n) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            tick();
            if (app->screen() != loader) break;
            EXPECT_TRUE(loader->state() == last || loader->state() == last + 1);
            last = loader->state();
            EXPECT_EQ(app->renderContexts()->graphics.burstLoading(), last == 1 || last == 3) << last;
        }
        ASSERT_NE(dynamic_cast<StubGame*>(app->screen()), nullptr);
        installed = true;
        tick();
    }
    void tick() { LoaderImpl::clock += 16, app->tick(); }

    std::unique_ptr<App> app;
    std::function<void()> slot = [] { ++signals; };
    bool card = false;
};

TEST_F(LevelLoader, LoadsCatalogIntroRestartAndDamagedLevelsIntoTheGameScreen) {
    signals = 0;
    load("levels/level01.pxl", false, true);
    EXPECT_TRUE(card);
    EXPECT_FALSE(game.previousAlive);  // gone before the level was read
    EXPECT_TRUE(game.path == "levels/level01.pxl" && game.skip && !game.restart && !game.empty);
    EXPECT_EQ(game.zeroUpdates, 1);
    EXPECT_GT(game.preDraws, 3);
    EXPECT_EQ(game.signalsAtFirstUpdate, 1);  // raised once, dispatched before the first frame
    EXPECT_FALSE(app->renderContexts()->postProcessing.hasCapture());

    load("levels/level01.pxl", true);  // a restart: no card, the old screen lives until the new one
    EXPECT_TRUE(!card && game.previousAlive && game.restart);

    // Damaged files, a localized variant and a path without '.' beside the sample levels.
    auto f = Singleton<FileSystem>::instance().open("levels/level02.pxl");
    std::string const good(reinterpret_cast<char const*>(f->data()), size_t(f->size()));
    auto const zip = std::filesystem::temp_directory_path() / ("zelv-loader-" + std::to_string(getpid()) + ".zip");
    ziptest::writeFile(zip, ziptest::build({{"levels/level02_ja_JP.pxl", good.substr(0, 40)}, {"levels/short.pxl", "ab"},
                                            {"levels/noext", good}}));
    ASSERT_NE(Singleton<FileSystem>::instance().mount(zip.string()), nullptr);
    std::filesystem::remove(zip);
    EXPECT_EQ(LevelLoading::chooseLevelFile("levels/level02.pxl", "ja_JP"), "levels/level02_ja_JP.pxl");
    EXPECT_EQ(LevelLoading::chooseLevelFile("levels/level01.pxl", "ja_JP"), "levels/level01.pxl");
    EXPECT_EQ(LevelLoading::chooseLevelFile("levels/noext", "ja_JP"), "levels/noext");
    EXPECT_EQ(LevelLoading::chooseLevelFile("levels/missing.pxl", "ja_JP"), "");
    load("levels/missing.pxl", false);
    EXPECT_TRUE(game.empty);
    EXPECT_EQ(game.failure, "The level missing.pxl is not there");  // for the window to say
    for (char const* path : {"levels/level02.pxl", "levels/short.pxl", "levels/noext"}) load(path, false);
    EXPECT_FALSE(game.empty);  // the path without '.' read whole
    EXPECT_EQ(game.failure, "");
    EXPECT_EQ(signals, 6);
}

TEST_F(LevelLoader, TheCardIsShownOneUpdateAfterItArrivesAndItsGearTurnsEveryUpdate) {
    LevelLoadingScreen card(graphics.get(), audio, fonts.get(), "level01Name");
    card.preDraw();
    EXPECT_FLOAT_EQ(card.offset(), 720.0f);  // hidden a full screen height up
    card.show();
    float const time = card.gear().time();
    card.update(0.0f);
    EXPECT_EQ(card.progress(), 0.0f);
    EXPECT_FLOAT_EQ(card.gear().time(), time + card.gear().step());  // dt 0 still turns the gear
    int updates = 1;
    for (; card.progress() < 1.0f && updates < 1000; ++updates) card.update(10.0f);
    EXPECT_NEAR(updates, 101, 1);  // one second
    EXPECT_FALSE(card.isShown());
    card.update(10.0f);
    EXPECT_TRUE(card.isShown());
}

}  // namespace
