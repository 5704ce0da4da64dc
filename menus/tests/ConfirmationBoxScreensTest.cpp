// A question asked over a running screen, end to end through the app frame on real contexts
// (graphics, fonts, post-processing, sound) and a frame clock the test steps: the frozen
// backdrop, the box, the answer, the dismissal and the screen given back.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "menus/ConfirmationBoxViewController.h"
#include "menus/DismissConfirmationBoxViewController.h"
#include "menus/tests/MenuFixture.h"
#include "menus/tests/RealContextsImpl.h"

using menus_test::kHeight;
using menus_test::kWidth;

namespace {

using App = os::AbstractApp<menus_test::RealContextsImpl>;

// The running level: fills the screen with one colour, counts its updates and any input.
class Game : public ViewController {
public:
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*) override {
        glClearColor(0.8f, 0.2f, 0.2f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    void preDraw(Graphics::Context*) override {}
    void update(Audio::Context&, float, float) override {
        ++updates;
        if (onUpdate) std::exchange(onUpdate, nullptr)();
    }
    void touchMoved(glm::vec2 const&, uint32_t) override { ++inputs; }
    void touchBegan(glm::vec2 const&, uint32_t) override { ++inputs; }
    void touchEnded(glm::vec2 const&, uint32_t) override { ++inputs; }
    void buttonPressed(uint32_t) override { ++inputs; }
    void gamepadInput(GamepadState const&) override { ++inputs; }

    int updates = 0, inputs = 0, level = 7;
    std::function<void()> onUpdate;
};

class QuestionScreens : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gl.ok());
        ASSERT_TRUE(menus_test::mountData());
        platform_services::setScreenSizes(1280, 720, kWidth, kHeight);
        gl.bindTarget();
        app = App::create();
        app->init(0, nullptr);
        auto owned = std::make_unique<Game>();
        game = owned.get();
        app->installViewController(std::move(owned));
        tick();
    }
    void TearDown() override { app.reset(); }

    void tick() {
        menus_test::RealContextsImpl::clock += 16;
        ++ticks;
        app->tick();
    }
    // Asks from inside the game's own update, as level code does.
    void ask(bool twoButtons) {
        game->onUpdate = [this, twoButtons] {
            ConfirmationBox::Parameters p{offset,
                                          message,
                                          yes,
                                          twoButtons ? boost::optional<std::string const&>(no) : boost::none,
                                          [this] {
                                              ++answered;
                                              answeredUnderDismiss =
                                                  dynamic_cast<DismissConfirmationBoxViewController*>(app->screen()) !=
                                                  nullptr;
                                          },
                                          [this] { ++refused; },
                                          false};
            app->showConfirmationBox(p);
        };
        tick();
        box = dynamic_cast<ConfirmationBoxViewController*>(app->screen());
    }
    // Ticks until the box takes answers, tapping at the answer every frame meanwhile.
    int untilInteractive(glm::vec2 tapAt) {
        int n = 0;
        while (box->box().state() != ConfirmationBox::kInteractive && n < 3000) {
            // The box's textures decode on worker threads in real time.
            if (!app->renderContexts()->graphics.texturesLoaded())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            app->touchBegan(1, tapAt.x, tapAt.y);
            app->touchEnded(1, tapAt.x, tapAt.y);
            tick();
            ++n;
            if (box->state() == ConfirmationBoxViewController::kFadingIn && shownTick < 0) shownTick = ticks;
            if (box->state() == ConfirmationBoxViewController::kInteractive && dimmedTick < 0) dimmedTick = ticks;
        }
        return n;
    }
    // Ticks until the game is current again, noting the tick the dismiss screen came and the
    // one its fade began. Its wait for the decoder threads is real time.
    void untilGivenBack() {
        dismissTick = fadeTick = -1;
        for (int n = 0; app->screen() != game && n < 5000; ++n) {
            auto* d = dynamic_cast<DismissConfirmationBoxViewController*>(app->screen());
            if (d && dismissTick < 0) dismissTick = ticks;
            if (d && d->state() == DismissConfirmationBoxViewController::kWaitingForTextures &&
                !app->renderContexts()->graphics.texturesLoaded())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            tick();
            if (d && app->screen() == d && d->state() == DismissConfirmationBoxViewController::kFadingOut && fadeTick < 0)
                fadeTick = ticks;
        }
    }
    uint32_t corner() { return gl.pixel(5, 5); }
    PostProcessingStep& post() { return app->renderContexts()->postProcessing; }

    testing_support::GlTestContext gl{kWidth, kHeight};
    std::unique_ptr<App> app;
    Game* game = nullptr;
    ConfirmationBoxViewController* box = nullptr;
    int ticks = 0, answered = 0, refused = 0, dismissTick = -1, fadeTick = -1, shownTick = -1, dimmedTick = -1;
    bool answeredUnderDismiss = false;
    glm::vec2 offset{0, 0};
    std::string message = "Skip the tutorial?\nYou can start it again later.", yes = "OK", no = "No";
};

TEST_F(QuestionScreens, AnAnswerRunsOnceAfterTheDismissalAndGivesTheSameScreenBack) {
    uint32_t const before = corner();
    EXPECT_TRUE(menus_test::near(before, testing_support::rgba(204, 51, 51)));
    ask(false);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->wrapped(), game);
    int const startTicks = ticks, startUpdates = game->updates;

    // Until it is interactive: taps reach neither the box nor the game.
    untilInteractive(glm::vec2(640, 185));
    EXPECT_EQ(answered, 0);
    EXPECT_EQ(game->inputs, 0);
    EXPECT_EQ(game->updates - startUpdates, ticks - startTicks);  // updated every frame
    // The backdrop is the frozen picture, dimmed to half over 250 ms from the box's show.
    // 16 frames of 16 ms reach 250 ms; the colour tween reports done on the next.
    EXPECT_EQ(dimmedTick - shownTick, 17);
    glm::vec3 const dim = post().backdropTween().current;
    EXPECT_NEAR(dim.r, 0.5f, 1e-5f);
    uint32_t const darkened = corner();
    EXPECT_LT(int(darkened & 0xff), 204 * 6 / 10);
    EXPECT_GT(int(darkened & 0xff), int(darkened >> 8 & 0xff));  // still the red picture

    app->touchBegan(1, 640, 185);
    app->touchEnded(1, 640, 185);
    app->touchBegan(1, 640, 185);  // a second tap is too late
    app->touchEnded(1, 640, 185);
    EXPECT_EQ(box->state(), ConfirmationBoxViewController::kClosing);
    EXPECT_EQ(answered, 0);  // not before the dismissal
    int const answerTick = ticks;
    untilGivenBack();
    EXPECT_EQ(answered, 1);
    EXPECT_TRUE(answeredUnderDismiss);
    EXPECT_EQ(app->screen(), game);
    EXPECT_EQ(game->level, 7);
    EXPECT_EQ(game->inputs, 0);
    // Two frames skip the game's update: the box's hand-over and the dismiss screen's give-back.
    EXPECT_EQ(game->updates - startUpdates, ticks - startTicks - 2);
    // The box shrinks away (7 + 7 frames of 100 ms steps, 13 + 1 of the panel's 200 ms
    // shrink), the screen sees it hidden and hands over a frame later; the colour then fades
    // back over 500 ms.
    EXPECT_EQ(dismissTick - answerTick, 30);
    EXPECT_GE((ticks - fadeTick) * 16, 500);
    EXPECT_LE((ticks - fadeTick) * 16, 532);
    EXPECT_FALSE(post().hasCapture());
    EXPECT_NEAR(post().backdropTween().current.r, 1.0f, 1e-5f);

    // The game draws itself again; its clock was not reset by the give-back.
    tick();
    EXPECT_EQ(corner(), before);
    app->touchBegan(1, 5, 5);
    EXPECT_EQ(game->inputs, 1);
}

TEST_F(QuestionScreens, NegativeAnswersAndTheControllerTakeTheSameWayOut) {
    // The pause button is the negative answer: the box closes and gives the game back without
    // the answer callback.
    ask(true);
    ASSERT_NE(box, nullptr);
    untilInteractive(glm::vec2(-100, -100));
    app->buttonPressed(ViewController::buttonPause);
    EXPECT_EQ(box->state(), ConfirmationBoxViewController::kClosing);
    untilGivenBack();
    EXPECT_EQ(app->screen(), game);
    EXPECT_EQ(answered, 0);

    // A tap on the negative button does the same.
    ask(true);
    untilInteractive(glm::vec2(-100, -100));
    app->touchBegan(1, 790, 185);
    app->touchEnded(1, 790, 185);
    untilGivenBack();
    EXPECT_EQ(app->screen(), game);
    EXPECT_EQ(answered, 0);

    // A on the affirmative button (one step left of the focused negative one) answers.
    ask(true);
    untilInteractive(glm::vec2(-100, -100));
    GamepadState s;
    s.dpadX = -1;
    app->gamepadInput({{1, s}});
    s = GamepadState();
    s.buttonA = 1;
    app->gamepadInput({{1, s}});
    untilGivenBack();
    EXPECT_EQ(answered, 1);
    EXPECT_EQ(game->inputs, 0);

    // With one button the pause button answers.
    ask(false);
    untilInteractive(glm::vec2(-100, -100));
    app->buttonPressed(ViewController::buttonPause);
    untilGivenBack();
    EXPECT_EQ(answered, 2);
    EXPECT_EQ(app->screen(), game);

    // The pause button pressed as a box opens answers it once it takes answers, and only it.
    for (bool twoButtons : {true, false}) {
        ask(twoButtons);
        app->buttonPressed(ViewController::buttonPause);
        for (int n = 0; box->state() != ConfirmationBoxViewController::kClosing && n < 3000; ++n) {
            if (!app->renderContexts()->graphics.texturesLoaded())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            tick();
        }
        EXPECT_EQ(box->state(), ConfirmationBoxViewController::kClosing) << twoButtons;
        untilGivenBack();
        EXPECT_EQ(app->screen(), game);
    }
    EXPECT_EQ(answered, 3);
    EXPECT_EQ(game->inputs, 0);
}

}  // namespace
