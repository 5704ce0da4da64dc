#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "os/tests/FakeAppImpl.h"
#include "testing/GlTestContext.h"

using fake::App;

namespace {

// Logs every call as "<name>.<operation>" and keeps the dt values it was given.
class RecordingScreen : public ViewController {
public:
    explicit RecordingScreen(std::string name) : name_(std::move(name)) {}
    ~RecordingScreen() override { fake::record(name_ + ".destroy"); }
    void draw(Graphics::Context*, Graphics::StandardShader*) override { fake::record(name_ + ".draw"); }
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*) override { fake::record(name_ + ".drawOverlay"); }
    void preDraw(Graphics::Context*) override { fake::record(name_ + ".preDraw"); }
    void update(Audio::Context&, float dt, float) override {
        fake::record(name_ + ".update");
        dts.push_back(dt);
        if (onUpdate) onUpdate();
    }
    void touchMoved(glm::vec2 const& p, uint32_t n) override { touch("touchMoved", p, n); }
    void touchBegan(glm::vec2 const& p, uint32_t n) override { touch("touchBegan", p, n); }
    void touchEnded(glm::vec2 const& p, uint32_t n) override { touch("touchEnded", p, n); }
    void buttonPressed(uint32_t code) override {
        fake::record(name_ + ".button " + std::to_string(code));
        if (onButton) onButton();
    }
    void gamepadInput(GamepadState const& s) override { pads.push_back(s); }
    void const* inputTaker() const override { return taker; }

    std::vector<float> dts;
    std::vector<GamepadState> pads;
    void const* taker = this;
    std::function<void()> onUpdate;
    std::function<void()> onButton;

private:
    void touch(char const* what, glm::vec2 const& p, uint32_t n) {
        fake::record(name_ + "." + what + " " + std::to_string(int(p.x)) + "," + std::to_string(int(p.y)) + " x" +
                     std::to_string(n));
    }
    std::string name_;
};

bool logged(std::string const& entry) {
    return std::find(fake::log.begin(), fake::log.end(), entry) != fake::log.end();
}

class AppFrame : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }

    // An initialised app frame whose current screen is a RecordingScreen named "a".
    std::unique_ptr<App> started() {
        auto app = App::create();
        app->init(0, nullptr);
        auto screen = std::make_unique<RecordingScreen>("a");
        a = screen.get();
        app->installViewController(std::move(screen));
        fake::log.clear();
        return app;
    }

    RecordingScreen* a = nullptr;
};

TEST_F(AppFrame, TicksAndInputBeforeASuccessfulInitReachNothing) {
    for (bool initFails : {false, true}) {
        fake::reset();
        fake::platform.graphicsFails = initFails;
        auto app = App::create();
        if (initFails) {
            EXPECT_THROW(app->init(0, nullptr), std::runtime_error);
        }
        fake::log.clear();
        for (int i = 0; i < 3; ++i) {
            fake::platform.now += 16;
            app->tick();
        }
        app->touchBegan(1, 10, 10);
        app->buttonPressed(ViewController::buttonPause);
        app->trimGraphicsMemory();
        EXPECT_TRUE(fake::log.empty()) << initFails;
        EXPECT_EQ(app->screen(), nullptr);
    }
}

TEST_F(AppFrame, InitBuildsContextsInOrderThenGoesToMainMenuWithoutIntro) {
    fake::platform.lowEnd = true;
    auto app = App::create();
    EXPECT_TRUE(app->init(0, nullptr));
    std::vector<std::string> expected = {"initICloud",     "graphics.construct", "fonts.construct fonts/",
                                         "post.construct", "shader.construct",   "sync.resume",
                                         "sync.send 1"};
    EXPECT_EQ(fake::log, expected);
    auto* rc = app->renderContexts();
    EXPECT_TRUE(rc->graphics.downscale == boost::optional<uint16_t>(2));
    EXPECT_EQ(rc->postProcessing.renderSize, glm::ivec2(1280, 720));  // truncated toward zero
    EXPECT_EQ(rc->postProcessing.viewport, glm::ivec2(1334, 750));
    EXPECT_NE(dynamic_cast<DummyViewController*>(app->screen()), nullptr);
}

TEST_F(AppFrame, StartPrefersIntroThenAlternativeIntroThenArgument) {
    fake::platform.files = {"levels/intro.pxl", "levels/intro_ps4_xbone_steam.pxl"};
    App::create()->init(0, nullptr);
    EXPECT_TRUE(logged("event STARTED_LEVEL_WITH_PATH: levels/intro.pxl"));
    EXPECT_EQ(fake::log.back(), "sync.suspend");

    fake::platform.files = {"levels/intro_ps4_xbone_steam.pxl"};
    App::create()->init(0, nullptr);
    EXPECT_TRUE(logged("event STARTED_LEVEL_WITH_PATH: levels/intro_ps4_xbone_steam.pxl"));

    fake::log.clear();
    char const* args[] = {"levels/level07.pxl"};
    App::create()->init(1, args);
    EXPECT_TRUE(logged("event STARTED_LEVEL_WITH_PATH: levels/level07.pxl"));
    EXPECT_FALSE(logged("sync.resume"));
}

TEST_F(AppFrame, TickRunsEveryStepInOrder) {
    auto app = started();
    app->tick();
    std::vector<std::string> expected = {
        "a.update",        "audio.update",     "post.update", "graphics.updateTextures",
        "graphics.beginDynamicBuffers", "a.preDraw", "graphics.endDynamicBuffers", "post.updateColors",
        "a.draw",          "post.drawBackdrop", "a.drawOverlay", "post.present"};
    EXPECT_EQ(fake::log, expected);
}

TEST_F(AppFrame, FrameTimeIsClampedAndResetByInitAndInstall) {
    auto app = App::create();
    fake::platform.now = 5000;
    app->tick();  // not started: only stores the time
    fake::platform.now = 9000;
    app->init(0, nullptr);
    fake::platform.now = 9500;
    app->tick();
    fake::platform.now += 10;
    app->tick();
    fake::platform.now += 200;
    app->tick();
    fake::platform.now -= 50;  // a clock that steps back
    app->tick();
    EXPECT_EQ(app->audio().dts, (std::vector<float>{0.0f, 10.0f, 33.333336f, 33.333336f}));

    auto b = std::make_unique<RecordingScreen>("b");
    RecordingScreen* bp = b.get();
    app->installViewController(std::move(b));
    for (int i = 0; i < 2; ++i) {
        fake::platform.now += 25;
        app->tick();
    }
    EXPECT_EQ(bp->dts, (std::vector<float>{0.0f, 25.0f}));
}

TEST_F(AppFrame, ScreenInstalledDuringUpdateDrawsSameTick) {
    auto app = started();
    auto install = app->installCallback();
    a->onUpdate = [&install] { install(std::make_unique<RecordingScreen>("b")); };
    app->tick();
    std::vector<std::string> screens;
    for (auto const& s : fake::log)
        if (s.rfind("a.", 0) == 0 || s.rfind("b.", 0) == 0) screens.push_back(s);
    EXPECT_EQ(screens, (std::vector<std::string>{"a.update", "a.destroy", "b.preDraw", "b.draw", "b.drawOverlay"}));
    fake::platform.now += 20;
    app->tick();
    EXPECT_EQ(static_cast<RecordingScreen*>(app->screen())->dts, std::vector<float>{0.0f});
}

TEST_F(AppFrame, InputGoesToCurrentScreenAndControllerSignalsWaitForTick) {
    auto app = started();
    app->touchBegan(2, 640.7f, 480.2f);
    app->touchEnded(1, 0, 720);
    app->buttonPressed(ViewController::buttonPause);
    EXPECT_EQ(fake::log, (std::vector<std::string>{"a.touchBegan 640,480 x2", "a.touchEnded 0,720 x1",
                                                   "a.button 16777219"}));
    std::vector<uint32_t> seen;
    SlotCallbackRef on(&app->events(), 20000008, [&] { seen.push_back(20000008); });
    SlotCallbackRef off(&app->events(), 20000009, [&] { seen.push_back(20000009); });
    app->controllerConnected();
    app->controllerDisconnected();
    EXPECT_TRUE(seen.empty());
    a->onUpdate = [&] { seen.push_back(1); };
    app->tick();
    EXPECT_EQ(seen, (std::vector<uint32_t>{20000008, 20000009, 1}));
}

// What is down in a state, "-" for nothing.
std::string pressed(GamepadState const& s) {
    std::string out;
    auto add = [&](char const* name, float v) {
        if (v == 0) return;
        char part[32];
        std::snprintf(part, sizeof part, "%s%s%g", out.empty() ? "" : " ", name, double(v));
        out += part;
    };
    add("dpadX", s.dpadX), add("dpadY", s.dpadY), add("leftX", s.leftX), add("leftY", s.leftY);
    add("rightX", s.rightX), add("rightY", s.rightY), add("A", s.buttonA), add("B", s.buttonB);
    add("X", s.buttonX), add("Y", s.buttonY), add("keys", float(s.keys));
    return out.empty() ? "-" : out;
}

// Each key, button and side of an axis of every controller is an input with the frame it went
// down; what was down as a change of the taker began is held over until let go, every other press
// reaches the next taker, one made and let go during the change too, and opposite pushes go to the
// later one.
TEST_F(AppFrame, PressesReachTheTakerByTheFrameTheyWentDownWhicheverControllerMadeThem) {
    using namespace platform;
    auto app = started();
    char const other = 0;
    // One frame: every controller read, then the update; what the screen got, in order.
    auto frame = [&](std::vector<os::ControllerState> const& controllers) {
        a->pads.clear();
        app->gamepadInput(controllers);
        app->tick();
        std::string got;
        for (GamepadState const& s : a->pads) got += (got.empty() ? "" : " | ") + pressed(s);
        return got;
    };
    auto keys = [](uint32_t down) {
        os::ControllerState c{1, {}};
        c.state.keys = down;
        return c;
    };
    auto pad = [](float leftX, uint8_t x) {
        os::ControllerState c{2, {}};
        c.state.leftX = leftX;
        c.state.buttonX = x;
        return c;
    };
    auto changeInUpdate = [&](void const* to) {
        a->onUpdate = [&, to] {
            a->taker = to;
            a->onUpdate = nullptr;
        };
    };

    // A taker's first state follows one with nothing down; nothing was down before the first.
    EXPECT_EQ(frame({keys(kKeyD)}), "- | dpadX1 leftX1 keys32");
    // D down as an update changes the taker is held over; Left pressed beside it acts, and
    // letting Left go presses nothing. D pressed again acts.
    changeInUpdate(&other);
    EXPECT_EQ(frame({keys(kKeyD)}), "dpadX1 leftX1 keys32");
    EXPECT_EQ(frame({keys(kKeyD)}), "- | -");
    EXPECT_EQ(frame({keys(kKeyD | kKeyLeft)}), "dpadX-1 leftX-1 keys1");
    EXPECT_EQ(frame({keys(kKeyD)}), "-");
    EXPECT_EQ(frame({keys(0)}), "-");
    EXPECT_EQ(frame({keys(kKeyD)}), "dpadX1 leftX1 keys32");
    // A change made by the frame's events (a pause press): what is down at that frame's read was
    // down as it began. Return, beside the held-over Space, acts.
    a->taker = a;
    EXPECT_EQ(frame({keys(kKeySpace)}), "- | -");
    EXPECT_EQ(frame({keys(kKeySpace | kKeyReturn)}), "A1 Y1 keys512");
    EXPECT_EQ(frame({keys(0)}), "-");
    // Made by an update: a key down at the next read went down after it began.
    changeInUpdate(&other);
    EXPECT_EQ(frame({keys(0)}), "-");
    EXPECT_EQ(frame({keys(kKeySpace)}), "- | A1 keys256");

    // No taker: nothing down for the screen. A tap made meanwhile acts once on the next taker,
    // after what was pressed before it; a key down since before the change does not.
    EXPECT_EQ(frame({keys(kKeyW)}), "dpadY1 leftY1 keys64");
    changeInUpdate(nullptr);
    EXPECT_EQ(frame({keys(kKeyW)}), "dpadY1 leftY1 keys64");
    EXPECT_EQ(frame({keys(kKeyW | kKeyLeft)}), "-");
    EXPECT_EQ(frame({keys(kKeyW | kKeyLeft | kKeyRight)}), "-");
    EXPECT_EQ(frame({keys(kKeyW | kKeyLeft)}), "-");
    // Left, then Right, which pushed it over, each act in turn; Left then rests until let go.
    a->taker = a;
    EXPECT_EQ(frame({keys(kKeyW | kKeyLeft)}), "- | dpadX-1 leftX-1 keys1");
    EXPECT_EQ(frame({keys(kKeyW | kKeyLeft)}), "-");
    EXPECT_EQ(frame({keys(kKeyW | kKeyLeft)}), "dpadX1 leftX1 keys2");
    EXPECT_EQ(frame({keys(kKeyW | kKeyLeft)}), "-");
    EXPECT_EQ(frame({keys(kKeyW)}), "-");
    EXPECT_EQ(frame({keys(kKeyLeft)}), "dpadX-1 leftX-1 keys1");
    // Opposite keys pressed at once: neither acts until pressed again.
    EXPECT_EQ(frame({keys(kKeyUp | kKeyDown)}), "-");
    EXPECT_EQ(frame({keys(kKeyUp)}), "-");
    EXPECT_EQ(frame({keys(0)}), "-");
    // Up tapped during a change, then Down pressed: the next taker gets each in turn, a frame
    // apart.
    a->taker = nullptr;
    EXPECT_EQ(frame({keys(0)}), "-");
    EXPECT_EQ(frame({keys(kKeyUp)}), "-");
    EXPECT_EQ(frame({keys(0)}), "-");
    EXPECT_EQ(frame({keys(kKeyDown)}), "-");
    a->taker = a;
    EXPECT_EQ(frame({keys(kKeyDown)}), "- | dpadY1 leftY1 keys4");
    EXPECT_EQ(frame({keys(kKeyDown)}), "-");
    EXPECT_EQ(frame({keys(kKeyDown)}), "dpadY-1 leftY-1 keys8");
    EXPECT_EQ(frame({keys(0)}), "-");
    // Right tapped twice during a change, then D pressed: three presses, in order.
    a->taker = nullptr;
    EXPECT_EQ(frame({keys(0)}), "-");
    EXPECT_EQ(frame({keys(kKeyRight)}), "-");
    EXPECT_EQ(frame({keys(0)}), "-");
    EXPECT_EQ(frame({keys(kKeyRight)}), "-");
    EXPECT_EQ(frame({keys(0)}), "-");
    EXPECT_EQ(frame({keys(kKeyD)}), "-");
    a->taker = a;
    EXPECT_EQ(frame({keys(kKeyD)}), "- | dpadX1 leftX1 keys2");
    EXPECT_EQ(frame({keys(kKeyD)}), "-");
    EXPECT_EQ(frame({keys(kKeyD)}), "dpadX1 leftX1 keys2");
    EXPECT_EQ(frame({keys(kKeyD)}), "-");
    EXPECT_EQ(frame({keys(kKeyD)}), "dpadX1 leftX1 keys32");
    EXPECT_EQ(frame({keys(kKeyD)}), "dpadX1 leftX1 keys32");
    EXPECT_EQ(frame({keys(0)}), "-");
    // Taps without end during one change: the latest are kept, and each is handed over once.
    a->taker = nullptr;
    for (int i = 0; i < 100; ++i) frame({keys(i % 2 ? 0 : kKeySpace)});
    a->taker = a;
    int handed = 0;
    for (int i = 0; i < 200; ++i) handed += frame({keys(0)}).find("A1") != std::string::npos;
    EXPECT_EQ(handed, int(os::Presses::kMaxTaps));

    // The keyboard and a pad at once. Space held over; X tapped on the pad acts alone.
    a->taker = &other;
    EXPECT_EQ(frame({keys(kKeySpace), pad(0, 0)}), "- | -");
    EXPECT_EQ(frame({keys(kKeySpace), pad(0, 1)}), "X1");
    EXPECT_EQ(frame({keys(kKeySpace), pad(0, 0)}), "-");
    // Left tapped while the stick is held right acts; the stick then rests until let go.
    EXPECT_EQ(frame({keys(0), pad(0.75f, 0)}), "leftX0.75");
    EXPECT_EQ(frame({keys(kKeyLeft), pad(0.75f, 0)}), "dpadX-1 leftX-1 keys1");
    EXPECT_EQ(frame({keys(0), pad(0.75f, 0)}), "-");
    EXPECT_EQ(frame({keys(0), pad(0, 0)}), "-");
    EXPECT_EQ(frame({keys(kKeyRight), pad(0.5f, 0)}), "dpadX1 leftX1 keys2");
    // A NaN axis is no input. A pad gone takes its inputs with it: the stick held over, pushed
    // still as the pad comes back, acts.
    EXPECT_EQ(frame({keys(0), pad(std::nanf(""), 0)}), "-");
    EXPECT_EQ(frame({keys(0), pad(-1, 0)}), "leftX-1");
    a->taker = a;
    EXPECT_EQ(frame({keys(0), pad(-1, 0)}), "- | -");
    EXPECT_EQ(frame({keys(0)}), "-");
    EXPECT_EQ(frame({keys(0), pad(-1, 0)}), "leftX-1");

    // A pad's d-pad buttons are inputs of their own, and the d-pad and the stick one direction.
    auto dpad = [](uint8_t buttons, float leftX) {
        os::ControllerState c{3, {}};
        c.dpad = buttons;
        c.state.dpadX = float(!!(buttons & GameController::kDpadRight)) - float(!!(buttons & GameController::kDpadLeft));
        c.state.leftX = leftX;
        return c;
    };
    a->taker = a;
    EXPECT_EQ(frame({dpad(GameController::kDpadLeft, 0)}), "dpadX-1");
    EXPECT_EQ(frame({dpad(GameController::kDpadLeft | GameController::kDpadRight, 0)}), "dpadX1");
    EXPECT_EQ(frame({dpad(GameController::kDpadLeft, 0)}), "-");
    EXPECT_EQ(frame({dpad(0, 0)}), "-");
    EXPECT_EQ(frame({dpad(0, 0.75f)}), "leftX0.75");
    EXPECT_EQ(frame({dpad(GameController::kDpadLeft, 0.75f)}), "dpadX-1");
    EXPECT_EQ(frame({dpad(0, 0.75f)}), "-");
    EXPECT_EQ(frame({dpad(0, 0)}), "-");
    // The stick held short of a step as the taker changes is held over; pushed on to a step it
    // acts, and so does one pushed back short and on again.
    EXPECT_EQ(frame({dpad(0, 0.35f)}), "leftX0.35");
    changeInUpdate(&other);
    EXPECT_EQ(frame({dpad(0, 0.35f)}), "leftX0.35");
    EXPECT_EQ(frame({dpad(0, 0.45f)}), "- | -");
    EXPECT_EQ(frame({dpad(0, 1)}), "leftX1");
    changeInUpdate(a);
    EXPECT_EQ(frame({dpad(0, 1)}), "leftX1");
    EXPECT_EQ(frame({dpad(0, 0.75f)}), "- | -");
    EXPECT_EQ(frame({dpad(0, 0.25f)}), "-");
    EXPECT_EQ(frame({dpad(0, 0.75f)}), "leftX0.75");
    EXPECT_EQ(frame({dpad(0, 0)}), "-");
    // Flicked while nothing takes the input and eased back through 0.3: it acts as far as it went.
    a->taker = nullptr;
    for (float x : {0.0f, 1.0f, 1.0f, 0.3f, 0.3f, 0.0f}) frame({dpad(0, x)});
    a->taker = a;
    EXPECT_EQ(frame({dpad(0, 0)}), "- | leftX1");

    // Down, then the pause, pressed while nothing takes the input: the taker that comes up gets
    // the pause first, and as it hands the input on, Down and Escape's B are spent with it;
    // Escape, still down, is held over.
    char const next = 0;
    a->taker = nullptr;
    frame({});
    frame({keys(kKeyDown)});
    frame({keys(0)});
    app->buttonPressed(ViewController::buttonPause);
    frame({keys(kKeyEscape)});
    a->onButton = [&] {
        a->taker = &next;
        a->onButton = nullptr;
    };
    fake::log.clear();
    changeInUpdate(a);
    std::string got;
    for (int i = 0; i < 4; ++i) got += frame({keys(kKeyEscape)}) + ";";
    EXPECT_TRUE(logged("a.button " + std::to_string(ViewController::buttonPause)));
    EXPECT_EQ(got.find("B1"), std::string::npos) << got;
    EXPECT_EQ(got.find("dpadY-1"), std::string::npos) << got;
    EXPECT_EQ(frame({keys(0)}), "-");
    EXPECT_EQ(frame({keys(kKeyDown)}), "dpadY-1 leftY-1 keys8");
}

TEST_F(AppFrame, OpenLevelByIndexStartsOnlyUnlockedExistingLevels) {
    fake::platform.levels = {{"levels/level01.pxl", "level01Name"}, {"levels/level02.pxl", "level02Name"}};
    fake::platform.files = {"levels/level01.pxl"};
    fake::platform.unlocked = {0, 1};
    auto app = started();
    for (char const* text : {"", "x", "1x", " 0", "-1", "+0", "18446744073709551617", "2", "1", "1337", "zelv://0"})
        app->openLevelByIndex(text);
    EXPECT_TRUE(fake::log.empty()) << fake::log.front();

    app->openLevelByIndex("0");
    EXPECT_TRUE(logged("event STARTED_LEVEL_WITH_PATH: levels/level01.pxl"));
    fake::log.clear();
    fake::platform.downloadState = 4;
    app->openLevelByIndex("1338");
    EXPECT_TRUE(logged("event STARTED_HARDCORE_LEVEL_WITH_PATH: levels/level01.pxl"));
    fake::log.clear();
    fake::platform.unlocked = {1};
    app->openLevelByIndex("1337");
    EXPECT_TRUE(fake::log.empty());
}

TEST_F(AppFrame, TrimOnlyWhileSuspendedAndBecomeActiveWaitsForTextures) {
    auto app = started();
    app->tick();  // uses up the install's clock reset, so the last check sees didBecomeActive's own
    auto& g = app->renderContexts()->graphics;
    app->trimGraphicsMemory();
    EXPECT_EQ(g.budget, 0x9000000u);

    app->willResignActive();
    app->trimGraphicsMemory();
    app->trimGraphicsMemory();
    EXPECT_EQ(g.budget, 0x9000000u / 4);

    fake::log.clear();
    g.pendingLoads = 3;
    fake::platform.now += 60000;
    app->didBecomeActive();
    EXPECT_EQ(g.budget, 0x9000000u);
    EXPECT_TRUE(g.texturesLoaded());
    EXPECT_EQ(fake::log.front(), "graphics.burstOn");
    EXPECT_EQ(fake::log.back(), "graphics.burstOff");

    // The pause does not count as frame time.
    app->tick();
    fake::platform.now += 7;
    app->tick();
    EXPECT_EQ(a->dts, (std::vector<float>{0.0f, 0.0f, 7.0f}));

    // Without trimmed textures it still restarts the clock and leaves the budget alone.
    app->willResignActive();
    fake::platform.now += 5000;
    app->didBecomeActive();
    fake::platform.now += 3;
    app->tick();
    EXPECT_EQ(a->dts.back(), 3.0f);
    EXPECT_EQ(g.budget, 0x9000000u);
}

TEST(DummyScreen, TickClearsToOpaqueBlack) {
    fake::reset();
    testing_support::GlTestContext gl(16, 16);
    ASSERT_TRUE(gl.ok());
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    auto app = App::create();
    app->init(0, nullptr);
    fake::platform.now += 16;
    app->tick();
    EXPECT_EQ(gl.pixel(8, 8), testing_support::rgba(0, 0, 0, 255));
}

}  // namespace
