// Screen transitions of the app frame, with stub screens that take the real constructor
// arguments and record what they were given.
#include <gtest/gtest.h>

#include <boost/optional/optional_io.hpp>
#include <boost/variant.hpp>

#include <algorithm>

#include "os/tests/FakeAppImpl.h"

namespace {

// Set to make the next stub constructor throw before it takes the previous screen over.
bool failNextConstruction = false;

struct Question {
    std::string message;
};
using Result = boost::variant<int, std::string>;

// A screen that logs its update, destruction and touches, and can run a hook from them. After a
// hook it reads its own members, so a screen deleted inside its own call shows under ASan.
class Stub : public ViewController {
public:
    explicit Stub(std::string name) : name(std::move(name)) {}
    ~Stub() override {
        fake::record(name + ".destroy");
        magic = 0;
    }
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*) override {}
    void preDraw(Graphics::Context*) override {}
    void update(Audio::Context&, float dt, float) override {
        fake::record(name + ".update");
        dts.push_back(dt);
        ++updates;
        run(onUpdate);
    }
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override { run(onTouch); }
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}

    void run(std::function<void()>& hook) {
        if (!hook) return;
        auto h = std::move(hook);  // one shot
        h();
        fake::record(name + ".returned " + std::to_string(magic));
    }

    std::string name;
    std::unique_ptr<ViewController> previous;
    std::function<void()> onUpdate, onTouch;
    std::vector<float> dts;
    int updates = 0;
    int magic = 42;

protected:
    // Constructors take the previous screen over as their last step.
    void takeOver(std::unique_ptr<ViewController>&& p) {
        if (failNextConstruction) {
            failNextConstruction = false;
            throw std::runtime_error("no art");
        }
        previous = std::move(p);
        fake::record(name + ".construct");
    }
};

struct Loader : Stub {
    Loader(Graphics::Context*, Audio::Context*, std::unique_ptr<ViewController>&& p, fake::PostProcessing*,
           fake::Fonts*, EventHandler*, std::function<void(Result const&, std::string const&, std::string const&)> end,
           std::string const& path, std::string const& name, InstallViewControllerCallback install,
           TriggerPauseMenuCallback pause, std::function<void(Question const&)> question, bool restart,
           StartLevelCallback start, bool skipTutorial, TransitToMainMenuCallback mainMenu, bool hardcore)
        : Stub("loader"), end(end), path(path), levelName(name), install(install), pause(pause), question(question),
          restart(restart), start(start), skipTutorial(skipTutorial), mainMenu(mainMenu), hardcore(hardcore) {
        last = this;
        takeOver(std::move(p));
    }
    std::function<void(Result const&, std::string const&, std::string const&)> end;
    std::string path, levelName;
    InstallViewControllerCallback install;
    TriggerPauseMenuCallback pause;
    std::function<void(Question const&)> question;
    bool restart;
    StartLevelCallback start;
    bool skipTutorial;
    TransitToMainMenuCallback mainMenu;
    bool hardcore;
    static inline Loader* last = nullptr;
};

struct MenuLoader : Stub {
    MenuLoader(Graphics::Context*, Audio::Context*, std::unique_ptr<ViewController>&& p, fake::PostProcessing*,
               fake::Fonts*, InstallViewControllerCallback install, StartLevelCallback start, fake::CloudSync* sync,
               boost::optional<std::string> const& video)
        : Stub("menuLoader"), install(install), start(start), sync(sync), video(video) {
        last = this;
        takeOver(std::move(p));
    }
    InstallViewControllerCallback install;
    StartLevelCallback start;
    fake::CloudSync* sync;
    boost::optional<std::string> video;
    static inline MenuLoader* last = nullptr;
};

struct EndOfLevel : Stub {
    EndOfLevel(Graphics::Context*, Audio::Context*, std::unique_ptr<ViewController>&& p, fake::PostProcessing*,
               fake::Fonts*, ReturnToMainMenuCallback toMenu, StartLevelCallback start, Result const& result,
               std::string const&, std::string const&, bool, fake::CloudSync* sync, bool hardcore)
        : Stub("endOfLevel"), toMenu(toMenu), start(start), result(result), sync(sync), hardcore(hardcore) {
        last = this;
        takeOver(std::move(p));
    }
    ReturnToMainMenuCallback toMenu;
    StartLevelCallback start;
    Result result;
    fake::CloudSync* sync;
    bool hardcore;
    static inline EndOfLevel* last = nullptr;
};

struct Pause : Stub {
    Pause(Graphics::Context*, Audio::Context*, std::unique_ptr<ViewController>&& p, fake::PostProcessing*,
          fake::Fonts*, EventHandler*, ReturnToMainMenuCallback, StartLevelCallback, std::string const&,
          std::string const&, ResumeFromPauseCallback resume, bool skipTutorial, bool hardcore)
        : Stub("pause"), resume(resume), skipTutorial(skipTutorial), hardcore(hardcore) {
        last = this;
        takeOver(std::move(p));
    }
    ResumeFromPauseCallback resume;
    bool skipTutorial, hardcore;
    static inline Pause* last = nullptr;
};

struct Box : Stub {
    Box(Graphics::Context*, Audio::Context*, std::unique_ptr<ViewController>&& p, fake::PostProcessing*, fake::Fonts*,
        EventHandler*, InstallViewControllerCallback giveBack, Question const& question)
        : Stub("box"), giveBack(giveBack), question(question) {
        last = this;
        takeOver(std::move(p));
    }
    InstallViewControllerCallback giveBack;
    Question question;
    static inline Box* last = nullptr;
};

struct ScreensImpl : fake::Impl {
    using LevelLoaderViewController = Loader;
    using MainMenuLoaderViewController = MenuLoader;
    using EndOfLevelViewController = EndOfLevel;
    using PauseViewController = Pause;
    using ConfirmationBoxViewController = Box;
    using TriggerVariant = Result;
    using ConfirmationBoxParameters = Question;
};
using App = os::AbstractApp<ScreensImpl>;

// What a game screen keeps of the loader's callbacks (the loader itself goes away).
struct LevelCallbacks {
    explicit LevelCallbacks(Loader const& l)
        : end(l.end), install(l.install), pause(l.pause), question(l.question), mainMenu(l.mainMenu) {}
    std::function<void(Result const&, std::string const&, std::string const&)> end;
    InstallViewControllerCallback install;
    TriggerPauseMenuCallback pause;
    std::function<void(Question const&)> question;
    TransitToMainMenuCallback mainMenu;
};

bool logged(std::string const& entry) {
    return std::find(fake::log.begin(), fake::log.end(), entry) != fake::log.end();
}
// The log entries starting with `prefix`, in order.
std::vector<std::string> only(std::string const& prefix) {
    std::vector<std::string> out;
    for (auto const& s : fake::log)
        if (s.rfind(prefix, 0) == 0) out.push_back(s);
    return out;
}

class Transitions : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        failNextConstruction = false;
        app = App::create();
        app->init(0, nullptr);  // no intro: the main-menu loader
        menuLoader = dynamic_cast<MenuLoader*>(app->screen());
        fake::log.clear();
    }
    void tick(uint64_t ms = 16) {
        fake::platform.now += ms;
        app->tick();
    }
    Stub* current() { return dynamic_cast<Stub*>(app->screen()); }

    std::unique_ptr<App> app;
    MenuLoader* menuLoader = nullptr;
};

TEST_F(Transitions, StartTextsConstructorArgumentsAndSyncGating) {
    ASSERT_NE(menuLoader, nullptr);
    EXPECT_EQ(menuLoader->video, boost::none);
    EXPECT_NE(dynamic_cast<DummyViewController*>(menuLoader->previous.get()), nullptr);
    EXPECT_EQ(menuLoader->sync, &app->cloudSync());

    struct Case {
        bool restart, hardcore;
        char const* text;
    } const cases[] = {{false, false, "STARTED_LEVEL_WITH_PATH: "},
                       {true, false, "RESTARTED_LEVEL_WITH_PATH: "},
                       {false, true, "STARTED_HARDCORE_LEVEL_WITH_PATH: "},
                       {true, true, "RESTARTED_HARDCORE_LEVEL_WITH_PATH: "}};
    for (auto const& c : cases) {
        fake::log.clear();
        ViewController* before = app->screen();
        app->startLevel("levels/level03.pxl", "level03Name", c.restart, c.restart, c.hardcore);
        EXPECT_EQ(fake::log, (std::vector<std::string>{std::string("event ") + c.text + "levels/level03.pxl",
                                                       "sync.suspend", "loader.construct"}));
        Loader* loader = Loader::last;
        ASSERT_EQ(app->screen(), loader);
        EXPECT_EQ(loader->previous.get(), before);
        EXPECT_EQ(loader->path, "levels/level03.pxl");
        EXPECT_EQ(loader->levelName, "level03Name");
        EXPECT_EQ(loader->restart, c.restart);
        EXPECT_EQ(loader->skipTutorial, c.restart);
        EXPECT_EQ(loader->hardcore, c.hardcore);
    }

    // Pause: sync runs and syncs before the pause screen exists.
    LevelCallbacks level(*Loader::last);
    fake::log.clear();
    level.pause("levels/level03.pxl", "level03Name");
    EXPECT_EQ(fake::log, (std::vector<std::string>{"sync.resume", "sync.send 1", "pause.construct"}));
    EXPECT_TRUE(Pause::last->hardcore);
    EXPECT_TRUE(Pause::last->skipTutorial);  // the flags of the startLevel that made the callback

    // Resume: suspended again.
    fake::log.clear();
    auto game = std::make_unique<Stub>("game");
    Pause::last->resume(std::move(game));
    // The pause screen held the whole chain of loaders down to the first main-menu loader.
    EXPECT_EQ(fake::log, (std::vector<std::string>{"sync.suspend", "pause.destroy", "loader.destroy", "loader.destroy",
                                                   "loader.destroy", "loader.destroy", "menuLoader.destroy"}));

    // End of level leaves sync alone; the flags come from the startLevel call.
    fake::log.clear();
    level.end(Result(std::string("three stars")), "levels/level03.pxl", "level03Name");
    EXPECT_EQ(fake::log, (std::vector<std::string>{"endOfLevel.construct"}));
    EndOfLevel* end = EndOfLevel::last;
    EXPECT_EQ(boost::get<std::string>(end->result), "three stars");
    EXPECT_TRUE(end->hardcore);
    EXPECT_EQ(end->sync, &app->cloudSync());

    // Back to the menu: built first, then sync resumes and syncs; the callback yields true.
    fake::log.clear();
    EXPECT_TRUE(end->toMenu());
    EXPECT_EQ(fake::log, (std::vector<std::string>{"menuLoader.construct", "sync.resume", "sync.send 1"}));
    EXPECT_EQ(MenuLoader::last->previous.get(), end);

    // The main-menu callback of a level carries its video.
    level.mainMenu(std::string("video/outro.mp4"));
    EXPECT_EQ(MenuLoader::last->video, std::string("video/outro.mp4"));
}

TEST_F(Transitions, ClockResetsAfterInstallOnlyAndGiveBackReturnsTheVeryScreen) {
    app->startLevel("levels/level01.pxl", "level01Name", false, false, false);
    Loader* loader = Loader::last;
    LevelCallbacks level(*loader);
    tick();
    auto owned = std::make_unique<Stub>("game");
    Stub* game = owned.get();
    loader->onUpdate = [&] { level.install(std::move(owned)); };
    tick(20);
    ASSERT_EQ(app->screen(), game);
    tick(20);  // the install's reset: dt 0
    tick(12);
    EXPECT_EQ(game->dts, (std::vector<float>{0.0f, 12.0f}));

    // A question wraps the game; closing it gives back the very same screen, state unchanged.
    game->onUpdate = [&] { level.question(Question{"Really?"}); };
    tick(10);
    Box* box = Box::last;
    ASSERT_EQ(app->screen(), box);
    EXPECT_EQ(box->question.message, "Really?");
    EXPECT_EQ(box->previous.get(), game);
    int const updates = game->updates;
    box->onUpdate = [&] { box->giveBack(std::move(box->previous)); };
    tick(9);
    EXPECT_EQ(app->screen(), game);
    EXPECT_EQ(game->updates, updates);
    EXPECT_EQ(game->magic, 42);
    tick(7);
    EXPECT_EQ(game->dts.back(), 7.0f);  // no reset after a give-back

    // Pause and resume: no reset either.
    game->onUpdate = [&] { level.pause("levels/level01.pxl", "level01Name"); };
    tick(5);
    Pause* pause = Pause::last;
    ASSERT_EQ(pause->previous.get(), game);
    pause->onUpdate = [&] { pause->resume(std::move(pause->previous)); };
    tick(6);
    ASSERT_EQ(app->screen(), game);
    tick(8);
    EXPECT_EQ(game->dts.back(), 8.0f);
}

TEST_F(Transitions, HandOversInsideScreenCallsDeleteTheCallerOnlyAfterItReturns) {
    // Install from update, give-back from a touch, resume from a signal slot, and a dismiss-style
    // give-back of a screen built by the caller: each caller reads itself after the call.
    app->startLevel("levels/level01.pxl", "", false, false, false);
    Loader* loader = Loader::last;
    auto owned = std::make_unique<Stub>("game");
    Stub* game = owned.get();
    loader->onUpdate = [&] { loader->install(std::move(owned)); };
    tick();
    EXPECT_EQ(only("loader."), (std::vector<std::string>{"loader.construct", "loader.update", "loader.returned 42", "loader.destroy"}));

    fake::log.clear();
    loader = nullptr;
    // The box gives the game back from a touch, through a dismiss screen.
    app->showConfirmationBox(Question{"?"});
    Box* box = Box::last;
    box->onTouch = [&] {
        // A dismiss screen takes the wrapped screen over and gives it back at once.
        auto dismiss = std::make_unique<Stub>("dismiss");
        dismiss->previous = std::move(box->previous);
        Stub* d = dismiss.get();
        box->giveBack(std::move(dismiss));
        d->onTouch = [d, gb = box->giveBack] { gb(std::move(d->previous)); };
    };
    app->touchBegan(1, 5, 5);
    EXPECT_EQ(only("box."), (std::vector<std::string>{"box.construct", "box.returned 42", "box.destroy"}));
    app->touchBegan(1, 5, 5);
    EXPECT_EQ(only("dismiss."), (std::vector<std::string>{"dismiss.returned 42", "dismiss.destroy"}));
    ASSERT_EQ(app->screen(), game);

    fake::log.clear();
    app->triggerPauseMenu("levels/level01.pxl", "", false, false);
    Pause* pause = Pause::last;
    SlotCallbackRef slot(&app->events(), 20000003, [&] {
        pause->resume(std::move(pause->previous));
        fake::record(std::string("slot.returned ") + std::to_string(pause->magic));
    });
    app->events().trigger(20000003);
    tick();
    EXPECT_EQ(only("slot."), (std::vector<std::string>{"slot.returned 42"}));
    EXPECT_TRUE(logged("pause.destroy"));
    EXPECT_EQ(app->screen(), game);
    EXPECT_EQ(only("game.update").size(), 1u);  // the returned game got this tick's update
}

TEST_F(Transitions, AThrowingConstructorKeepsThePreviousScreen) {
    app->startLevel("levels/level01.pxl", "", false, false, false);
    Loader* loader = Loader::last;
    auto owned = std::make_unique<Stub>("game");
    Stub* game = owned.get();
    loader->install(std::move(owned));

    std::function<void()> const transitions[] = {
        [&] { app->startLevel("levels/level02.pxl", "", true, false, false); },
        [&] { app->transitToMainMenu(boost::none); },
        [&] { app->transitToEndOfLevel(Result(3), "levels/level01.pxl", "", false, false); },
        [&] { app->triggerPauseMenu("levels/level01.pxl", "", false, false); },
        [&] { app->showConfirmationBox(Question{"?"}); },
    };
    for (auto const& transition : transitions) {
        failNextConstruction = true;
        fake::log.clear();
        // From inside the game's own update, as in play.
        game->onUpdate = transition;
        tick();
        EXPECT_FALSE(failNextConstruction);
        EXPECT_EQ(app->screen(), game);
        EXPECT_FALSE(logged("game.destroy"));
        EXPECT_TRUE(logged("game.returned 42"));
        tick();
        EXPECT_TRUE(logged("game.update"));
    }
    // Before the first frame there are no contexts to build a screen with: nothing happens.
    auto early = App::create();
    early->startLevel("levels/level01.pxl", "", false, false, false);
    early->transitToMainMenu(boost::none);
    early->triggerPauseMenu("levels/level01.pxl", "", false, false);
    early->transitToEndOfLevel(Result(1), "levels/level01.pxl", "", false, false);
    early->showConfirmationBox(Question{"?"});
    EXPECT_EQ(early->screen(), nullptr);

    // A null screen handed to a callback is refused.
    loader = nullptr;
    app->installViewController(nullptr);
    EXPECT_EQ(app->screen(), game);
}

TEST_F(Transitions, OneLevelFromStartToRetryToMainMenu) {
    // main-menu loader -> (install) menu -> start level -> loader -> (install) game -> pause ->
    // resume -> end of level -> retry -> loader -> main menu.
    auto menuOwned = std::make_unique<Stub>("menu");
    Stub* menu = menuOwned.get();
    StartLevelCallback start = menuLoader->start;
    menuLoader->onUpdate = [&] { menuLoader->install(std::move(menuOwned)); };
    tick();
    ASSERT_EQ(app->screen(), menu);
    // The main menu keeps the loader's start-level callback; the loader itself is gone.
    menu->onTouch = [start] { start("levels/level02.pxl", "level02Name", false, false, false); };
    app->touchBegan(1, 1, 1);
    Loader* loader = Loader::last;
    ASSERT_EQ(app->screen(), loader);
    EXPECT_EQ(loader->previous.get(), menu);  // the loader holds the menu until it is done with it
    EXPECT_FALSE(logged("menu.destroy"));
    loader->previous.reset();
    EXPECT_TRUE(logged("menu.destroy"));

    auto gameOwned = std::make_unique<Stub>("game");
    Stub* game = gameOwned.get();
    loader->onUpdate = [&] { loader->install(std::move(gameOwned)); };
    tick();
    ASSERT_EQ(app->screen(), game);
    fake::log.clear();
    app->triggerPauseMenu("levels/level02.pxl", "level02Name", false, false);
    Pause::last->onUpdate = [p = Pause::last] { p->resume(std::move(p->previous)); };
    tick();
    ASSERT_EQ(app->screen(), game);
    app->transitToEndOfLevel(Result(1), "levels/level02.pxl", "level02Name", false, false);
    EndOfLevel* end = EndOfLevel::last;
    end->onTouch = [end] { end->start("levels/level02.pxl", "level02Name", true, false, false); };
    app->touchBegan(1, 1, 1);
    EXPECT_TRUE(logged("event RESTARTED_LEVEL_WITH_PATH: levels/level02.pxl"));
    Loader* retry = Loader::last;
    ASSERT_EQ(app->screen(), retry);
    EXPECT_EQ(retry->previous.get(), end);
    EXPECT_EQ(end->previous.get(), game);
    retry->onUpdate = [retry] { retry->mainMenu(boost::none); };
    tick();
    EXPECT_EQ(MenuLoader::last->previous.get(), retry);
    EXPECT_EQ(app->screen(), MenuLoader::last);
    EXPECT_TRUE(logged("sync.send 1"));
    // Tearing the app down deletes the whole chain once.
    app.reset();
    for (char const* name : {"game.destroy", "endOfLevel.destroy", "loader.destroy", "menuLoader.destroy"})
        EXPECT_TRUE(logged(name)) << name;
}

}  // namespace
