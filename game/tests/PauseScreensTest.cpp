// Pausing a level end to end through the app frame on real contexts (graphics, fonts,
// post-processing, sound) with a frame clock the test steps: opening, resuming through the
// fade back, the options slide, the questions, restart and leaving for the main menu.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "game/PauseViewController.h"
#include "game/UnPauseViewController.h"
#include "level/LevelCatalog.h"
#include "menus/tests/MenuFixture.h"
#include "menus/tests/RealContextsImpl.h"
#include "os/EventHandler.h"

namespace {

struct Recorder {
    static inline std::vector<std::string> log;
    static inline int syncResumes = 0;
    static inline bool gameAliveAtSync = false, *gameAlive = nullptr;
};

struct RecordingSync {
    void suspend() {}
    void resume() {
        ++Recorder::syncResumes;
        Recorder::gameAliveAtSync = Recorder::gameAlive && *Recorder::gameAlive;
    }
    void send(int) {}
};

struct PauseImpl : menus_test::RealContextsImpl {
    using PauseViewController = ::PauseViewController;
    using CloudSyncThread = RecordingSync;
    static void logEvent(char const* line) { Recorder::log.emplace_back(line); }
};

using App = os::AbstractApp<PauseImpl>;

// The running level: asks for the pause from its own update and counts what reaches it.
class Game : public ViewController {
public:
    explicit Game(bool* alive) : alive(alive) { *alive = true; }
    ~Game() override { *alive = false; }
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*) override {}
    void preDraw(Graphics::Context*) override {}
    void update(Audio::Context&, float, float) override {
        ++updates;
        if (onUpdate) std::exchange(onUpdate, nullptr)();
    }
    void touchMoved(glm::vec2 const&, uint32_t) override { ++inputs; }
    void touchBegan(glm::vec2 const&, uint32_t) override { ++inputs; }
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override { ++inputs; }

    bool* alive;
    int updates = 0, inputs = 0;
    std::function<void()> onUpdate;
};

// Button centres on the logical screen (y up, as touches are given).
glm::vec2 const kResume(635, 485), kOptions(635, 375), kRestart(635, 265), kMainMenu(635, 155), kYes(490, 185);
class PauseScreens : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gl.ok());
        ASSERT_TRUE(menus_test::mountData());
        platform_services::setScreenSizes(1280, 720, menus_test::kWidth, menus_test::kHeight);
        gl.bindTarget();
        Recorder::log.clear();
        Recorder::syncResumes = 0;
        Recorder::gameAlive = &alive;
        app = App::create();
        app->init(0, nullptr);
        auto owned = std::make_unique<Game>(&alive);
        game = owned.get();
        app->installViewController(std::move(owned));
        for (uint32_t id : {PauseViewController::signalPaused, UnPauseViewController::signalResumed,
                            PauseViewController::signalOptionsClosed})
            slots.emplace_back(&app->events(), id, [this, id] { signals.push_back(id); });
        tick();
    }
    void TearDown() override { slots.clear(), app.reset(), Recorder::gameAlive = nullptr; }
    void tick() { PauseImpl::clock += 16, app->tick(); }
    // Ticks until done() (at most n frames), giving the decoder threads real time while
    // textures are outstanding.
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
    void tap(glm::vec2 p) { app->touchBegan(1, p.x, p.y), app->touchEnded(1, p.x, p.y); }
    // Opens the pause menu from the game's update, noting every state it passes through.
    std::vector<uint32_t> open(bool hardcore) {
        game->onUpdate = [this, hardcore] { app->triggerPauseMenu("levels/level03.pxl", "level03", false, hardcore); };
        tick();
        screen = dynamic_cast<PauseViewController*>(app->screen());
        std::vector<uint32_t> states;
        if (!screen) return states;
        until([&] {
            if (states.empty() || states.back() != screen->state()) states.push_back(screen->state());
            // Tapping too early neither resumes nor reaches the game.
            if (screen->state() < PauseViewController::kInteractive) tap(kResume);
            return screen->state() == PauseViewController::kInteractive;
        });
        return states;
    }
    void answerYes(ConfirmationBox& box) {
        if (until([&] { return box.state() == ConfirmationBox::kInteractive; })) tap(kYes);
    }

    testing_support::GlTestContext gl{menus_test::kWidth, menus_test::kHeight};
    std::unique_ptr<App> app;
    bool alive = false;
    Game* game = nullptr;
    PauseViewController* screen = nullptr;
    std::vector<SlotCallbackRef> slots;
    std::vector<uint32_t> signals;
};

TEST_F(PauseScreens, PauseAndResumeGiveTheSameGameBackWithItsSoundAndPicture) {
    app->audio().setMusicVolume(0.8f);
    std::vector<uint32_t> const states = open(false);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(states, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(signals, std::vector<uint32_t>{PauseViewController::signalPaused});
    EXPECT_EQ(game->inputs, 0);
    EXPECT_TRUE(app->renderContexts()->postProcessing.hasCapture());
    EXPECT_NEAR(app->renderContexts()->postProcessing.backdropTween().current.r, 0.5f, 1e-5f);
    // The music is gone after 250 ms; the level's sounds fade over a whole second.
    EXPECT_FLOAT_EQ(app->audio().musicVolume(), 0.0f);
    int const updates = game->updates;
    for (int i = 0; i < 63; ++i) tick();
    EXPECT_FLOAT_EQ(app->audio().categoryVolume(0), 0.0f);
    EXPECT_FLOAT_EQ(app->audio().categoryVolume(1), 1.0f);
    EXPECT_EQ(game->updates - updates, 63);  // kept updating, paused

    // Resume by the pause button: the menu closes, the unpause screen fades back and the very
    // same game screen comes back. A tap during the fade reaches nobody; the pause button pressed
    // then reaches the game once it is back (it pauses a level), once.
    app->buttonPressed(ViewController::buttonPause);
    EXPECT_EQ(screen->state(), PauseViewController::kDismissResume);
    bool sawUnpause = false;
    ASSERT_TRUE(until([&] {
        if (auto* u = dynamic_cast<UnPauseViewController*>(app->screen())) {
            sawUnpause = true;
            EXPECT_EQ(u->game(), game);
            app->buttonPressed(ViewController::buttonPause);
            tap(kResume);
        }
        return app->screen() == game;
    }));
    EXPECT_TRUE(sawUnpause && alive);
    EXPECT_EQ(game->inputs, 1);
    EXPECT_FLOAT_EQ(app->audio().musicVolume(), 0.8f);
    EXPECT_FALSE(app->renderContexts()->postProcessing.hasCapture());
    tick();  // 20000003 is dispatched once the game is current again
    EXPECT_EQ(signals, (std::vector<uint32_t>{PauseViewController::signalPaused, UnPauseViewController::signalResumed}));
    for (int i = 0; i < 64; ++i) tick();
    EXPECT_FLOAT_EQ(app->audio().categoryVolume(0), 1.0f);
    app->buttonPressed(ViewController::buttonPause);
    EXPECT_EQ(game->inputs, 2);

    // The pause button pressed as the menu comes up resumes once the menu is up.
    game->onUpdate = [this] { app->triggerPauseMenu("levels/level03.pxl", "level03", false, false); };
    tick();
    screen = dynamic_cast<PauseViewController*>(app->screen());
    ASSERT_NE(screen, nullptr);
    EXPECT_LT(screen->state(), uint32_t(PauseViewController::kInteractive));
    app->buttonPressed(ViewController::buttonPause);
    bool resumed = false;
    ASSERT_TRUE(until([&] {
        resumed = resumed || dynamic_cast<UnPauseViewController*>(app->screen()) != nullptr;
        return app->screen() == game;
    }));
    EXPECT_TRUE(resumed);
    EXPECT_EQ(game->inputs, 2);
}

TEST_F(PauseScreens, OptionsSlideBackQuestionsTakeThePauseButtonAndHardcoreRestartsTheRun) {
    open(true);
    ASSERT_NE(screen, nullptr);

    // Options slide the menu out to the left and open the options panel; the pause button goes to
    // the panel, which closes, and the menu slides back; the game re-reads its settings.
    tap(kOptions);
    EXPECT_EQ(screen->state(), PauseViewController::kSlidingToOptions);
    float leftmost = 0.0f;
    ASSERT_TRUE(until([&] {
        leftmost = std::min(leftmost, screen->slideValue());
        return screen->optionsMenu().state() == OptionsMenu::Active;
    }));
    EXPECT_NEAR(leftmost, -1280.0f, 1.0f);
    EXPECT_EQ(screen->openSubmenu(), &screen->optionsMenu());
    app->buttonPressed(ViewController::buttonPause);
    EXPECT_EQ(screen->optionsMenu().state(), OptionsMenu::Leaving);
    ASSERT_TRUE(until([&] { return screen->state() == PauseViewController::kInteractive; }));
    EXPECT_EQ(screen->openSubmenu(), nullptr);
    EXPECT_EQ(std::count(signals.begin(), signals.end(), PauseViewController::signalOptionsClosed), 1);
    EXPECT_NEAR(screen->slideValue(), 0.0f, 1.0f);

    // The pause button while the restart question is up answers it "no"; it does not resume.
    tap(kRestart);
    ASSERT_TRUE(until([&] { return screen->restartPopup().state() == ConfirmationBox::kInteractive; }));
    app->buttonPressed(ViewController::buttonPause);
    ASSERT_TRUE(until([&] { return screen->restartPopup().isHidden(); }));
    EXPECT_EQ(screen->state(), PauseViewController::kInteractive);

    // Yes: a hardcore run starts over from the first catalog level, the game kept alive.
    tap(kRestart);
    answerYes(screen->restartPopup());
    ASSERT_TRUE(until([&] { return screen->state() == PauseViewController::kReplaced; }));
    ASSERT_GT(LevelCatalog::count(), 0u);
    EXPECT_EQ(Recorder::log.back(), "RESTARTED_HARDCORE_LEVEL_WITH_PATH: " + LevelCatalog::entry(0).path);
    EXPECT_EQ(screen->keptGame(), game);
    EXPECT_TRUE(alive);
}

TEST_F(PauseScreens, RestartKeepsTheLevelAndMainMenuDestroysTheGameFirst) {
    open(false);
    ASSERT_NE(screen, nullptr);
    tap(kRestart);
    answerYes(screen->restartPopup());
    ASSERT_TRUE(until([&] { return screen->state() == PauseViewController::kReplaced; }));
    EXPECT_EQ(Recorder::log.back(), "RESTARTED_LEVEL_WITH_PATH: levels/level03.pxl");

    // A fresh pause over a fresh game, then the main menu.
    app->installViewController(std::make_unique<Game>(&alive));
    tick();
    game = static_cast<Game*>(app->screen());
    open(false);
    ASSERT_NE(screen, nullptr);
    int const resumes = Recorder::syncResumes;
    tap(kMainMenu);
    answerYes(screen->mainMenuPopup());
    ASSERT_TRUE(until([&] { return Recorder::syncResumes > resumes; }));
    EXPECT_FALSE(Recorder::gameAliveAtSync);
    EXPECT_EQ(screen->game(), nullptr);
}

}  // namespace
