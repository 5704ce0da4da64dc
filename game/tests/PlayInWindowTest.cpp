// Level01 played in the real window under Xvfb, started the way `zelv --level` starts it: the
// frame shows the ground and the tinted character; X key events roll the player right and make
// it jump, a mouse drag on the left half moves it, and an SDL virtual controller drives it. Then a
// held controller A or B on BOARDS, a controller held or pressed as the pause menu, the fade back
// into the level and the results come up, a pad's presses beside their opposites and as screens
// change, presses made as a page opens or the level fades back in, a key and the stick held
// through level01's cut-scene, and the view's text field typed into over a running level.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "game/EndOfLevelViewController.h"
#include "game/GameViewController.h"
#include "game/IntroGameModeStateMachine.h"
#include "game/PauseViewController.h"
#include "game/UnPauseViewController.h"
#include "menus/MainMenuViewController.h"
#include "os/shell/TextEntryKeyboard.h"
#include "testing/XInput.h"
#include "os/shell/AppDelegate.h"
#include "os/shell/DesktopShellPlatform.h"
#include "os/shell/Impl.h"
#include "os/shell/MainQueue.h"
#include "testing/TestPaths.h"

namespace {

// The real delegate, window and app frame in this process, with a throwaway home.
class InProcessGame {
public:
    explicit InProcessGame(std::vector<char const*> args) {
        testing_support::pinGlDriver();
        for (char const* name : {"XDG_CACHE_HOME", "XDG_CONFIG_HOME", "ZELV_DOCUMENTS_DIR", "ZELV_CLOUD_DIR"})
            setenv(name, (home_ / name).c_str(), 1);
        unsetenv("ZELV_PAK1_URL");
        platform_ = std::make_unique<os::DesktopShellPlatform>(testing_support::binaryDir().string());
        delegate_ = std::make_unique<os::AppDelegate>(
            *platform_, [] { return std::make_unique<os::AppFrameOf<os::App>>(); });
        args.insert(args.begin(), "zelv");
        int exitCode = 0;
        ok_ = delegate_->readArguments(int(args.size()), args.data(), exitCode) &&
              delegate_->applicationDidFinishLaunching();
    }
    ~InProcessGame() {
        if (!quit_) quit();
        delegate_->applicationWillTerminate();
        delegate_.reset();
        platform_.reset();
        os::MainQueue::shared().clear();
    }
    bool ok() const { return ok_; }
    // Closes the window as the desktop does; true when the run loop then ends.
    bool quit() {
        quit_ = true;
        SDL_Event close{};
        close.type = SDL_QUIT;
        SDL_PushEvent(&close);
        return !delegate_->runOnce();
    }
    os::App& app() { return static_cast<os::AppFrameOf<os::App>*>(delegate_->app())->app(); }
    os::DesktopShellPlatform& platform() { return *platform_; }
    template <class Screen>
    Screen* screen() {
        return delegate_->app() ? dynamic_cast<Screen*>(app().screen()) : nullptr;
    }
    void frames(int n) {
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(delegate_->runOnce());
            if (everyFrame) everyFrame();
        }
    }
    // Called after each frame.
    std::function<void()> everyFrame;
    // Frames until done() holds, at most n.
    bool until(std::function<bool()> const& done, int n = 1200) {
        for (int i = 0; i < n && !done(); ++i) frames(1);
        return done();
    }
    // A virtual controller plugged in and seen; null, with the reason, when SDL makes none.
    SDL_Joystick* attachPad(int* device = nullptr) {
        int const d = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                                SDL_CONTROLLER_BUTTON_MAX, 0);
        if (device) *device = d;
        if (d < 0) {
            ADD_FAILURE() << SDL_GetError();
            return nullptr;
        }
        frames(5);
        return SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(d));
    }
    // A pad's button pressed and let go, down and up `n` frames each.
    void tap(SDL_Joystick* pad, SDL_GameControllerButton button, int n = 3) {
        SDL_JoystickSetVirtualButton(pad, button, 1);
        frames(n);
        SDL_JoystickSetVirtualButton(pad, button, 0);
        frames(n);
    }

private:
    testing_support::TempDir home_;
    std::unique_ptr<os::DesktopShellPlatform> platform_;
    std::unique_ptr<os::AppDelegate> delegate_;
    bool ok_ = false;
    bool quit_ = false;
};

// A key pressed and let go, down and up `frames` frames each.
void tapKey(InProcessGame& game, XInput& keys, char const* key, int frames) {
    keys.key(key, true);
    game.frames(frames);
    keys.key(key, false);
    game.frames(frames);
}

TEST(PlayInWindow, Level01WithKeysMouseAndController) {
    char const* driver = std::getenv("SDL_VIDEODRIVER");
    ASSERT_TRUE(driver && std::strcmp(driver, "x11") == 0) << "expected to run under Xvfb";
    InProcessGame run({"--level", "levels/level01.pxl"});
    ASSERT_TRUE(run.ok());
    auto game = [&] { return run.screen<GameViewController>(); };
    auto frames = [&](int n) { run.frames(n); };
    // The level loader takes a few frames: capture, textures, the fade through black.
    ASSERT_TRUE(run.until([&] { return game() != nullptr; }, 600)) << "--level did not start the level";
    frames(90);
    Player::Player& player = game()->getWorld().getPlayer();
    glm::vec2 const rest = player.getPosition();

    // The frame: ground in level01's grass colour, and the character's darker green (far less
    // red than the grass) around its place on the screen.
    XInput x;
    ASSERT_TRUE(x.ok());
    int w = 0, h = 0;
    std::vector<uint8_t> const rgb = x.screenshot(w, h);
    ASSERT_EQ(rgb.size(), size_t(w) * size_t(h) * 3);
    size_t grass = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
        if (std::abs(rgb[i] - 77) < 20 && std::abs(rgb[i + 1] - 140) < 25 && std::abs(rgb[i + 2] - 64) < 20) ++grass;
    }
    EXPECT_GT(grass, size_t(w) * size_t(h) / 50) << "no ground on screen";
    glm::vec2 const at = game()->getWorld().getCamera().worldToScreen(glm::vec3(rest, 0.0f));
    int const cx = int(at.x * float(w) / 1280.0f), cy = h - int(at.y * float(h) / 720.0f);
    int tinted = 0;
    for (int y = std::max(0, cy - 40); y < std::min(h, cy + 40); ++y) {
        for (int xx = std::max(0, cx - 40); xx < std::min(w, cx + 40); ++xx) {
            uint8_t const* p = &rgb[(size_t(y) * size_t(w) + size_t(xx)) * 3];
            if (p[0] < 40 && p[1] > 110 && p[2] < 100) ++tinted;
        }
    }
    EXPECT_GT(tinted, 100) << "no character near (" << cx << ", " << cy << ")";

    // Keys: the right arrow rolls right; space jumps.
    x.key("Right", true);
    frames(60);
    EXPECT_GT(player.getPosition().x, rest.x + 1.0f) << "the right arrow did not roll the player";
    float top = player.getPosition().y;
    x.key("space", true);
    for (int i = 0; i < 40; ++i) {
        frames(1);
        top = std::max(top, player.getPosition().y);
    }
    x.key("space", false);
    x.key("Right", false);
    EXPECT_GT(top, rest.y + 0.5f) << "space did not make the player jump";
    frames(60);

    // A drag on the left half: the slider under the thumb, moved to the left of it.
    float const beforeDrag = player.getPosition().x;
    x.button(400, 500, true);
    frames(2);
    for (int step = 1; step <= 10; ++step) {
        x.motion(400 - 12 * step, 500);
        frames(1);
    }
    frames(60);
    x.button(280, 500, false);
    EXPECT_LT(player.getPosition().x, beforeDrag - 1.0f) << "the drag did not move the player";
    frames(30);

    // A virtual controller: the stick pushed right drives the player.
    int const device = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                                 SDL_CONTROLLER_BUTTON_MAX, 0);
    ASSERT_GE(device, 0) << SDL_GetError();
    frames(5);
    SDL_Joystick* stick = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(device));
    ASSERT_NE(stick, nullptr);
    float const beforeStick = player.getPosition().x;
    SDL_JoystickSetVirtualAxis(stick, SDL_CONTROLLER_AXIS_LEFTX, 32767);
    frames(60);
    EXPECT_GT(player.getPosition().x, beforeStick + 1.0f) << "the controller did not move the player";
    SDL_JoystickSetVirtualAxis(stick, SDL_CONTROLLER_AXIS_LEFTX, 0);
    SDL_JoystickDetachVirtual(device);
    frames(5);

    EXPECT_TRUE(run.quit());
}

// A controller's A held on BOARDS (the results' and the main menu's) opens the boards, which
// stay up; only a new press closes them, and A still held then does not open them again; B held
// as they open leaves them up too. A direction held as a box opens or goes moves nothing; nor
// does one held as the pause menu opens, and nothing held as the results come up presses or moves
// anything there. A press made as a screen changes acts on the one that follows: the stick pushed
// as the pause menu goes, or the d-pad during the fade back into the level, rolls the ball, and
// so does the stick beside a d-pad held across the pause, which itself rolls nothing; the stick
// pushed as the main menu loads moves its focus once. The keyboard beside the pad: A held across
// a pause rolls nothing, Right pressed beside it rolls the ball and letting Right go rolls
// nothing back; Left tapped with the stick pushed moves the menu's focus; X tapped on the pad
// makes no held-over Space pick a level.
TEST(PlayInWindow, HeldControllerAOnBoardsOpensThemOnceAndHeldDirectionsMoveNoBox) {
    InProcessGame game({"--level", "levels/level01.pxl"});
    ASSERT_TRUE(game.ok());
    ASSERT_TRUE(game.until([&] { return game.screen<GameViewController>() != nullptr; }));
    int device = -1;
    SDL_Joystick* pad = game.attachPad(&device);
    ASSERT_NE(pad, nullptr);
    auto tap = [&](SDL_GameControllerButton button) { game.tap(pad, button); };
    auto holdOnBoards = [&](char const* where) {
        SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 1);
        EXPECT_TRUE(game.until([&] { return game.app().presentedView() != nullptr; }, 60)) << where;
        game.frames(60);
        EXPECT_NE(game.app().presentedView(), nullptr) << where << ": the held press closed the boards";
        SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 0);
        game.frames(10);
        EXPECT_NE(game.app().presentedView(), nullptr) << where;
        SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 1);
        EXPECT_TRUE(game.until([&] { return game.app().presentedView() == nullptr; }, 60)) << where;
        game.frames(60);
        EXPECT_EQ(game.app().presentedView(), nullptr) << where << ": the closing press opened them again";
        SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 0);
        game.frames(5);
    };

    GameViewController* const level = game.screen<GameViewController>();
    Player::Player& player = level->getWorld().getPlayer();
    // Still for 30 frames: a ball that meets a bump can stop for 10.
    auto atRest = [&] {
        float x = player.getPosition().x;
        int still = 0;
        return game.until([&] {
            game.frames(10);
            still = std::abs(x - std::exchange(x, player.getPosition().x)) < 0.02f ? still + 1 : 0;
            return still >= 3;
        });
    };
    // The ball at rest (a pause keeps its speed), then the pause menu up.
    auto paused = [&] {
        atRest();
        tap(SDL_CONTROLLER_BUTTON_START);
        return game.until([&] {
            auto* pause = game.screen<PauseViewController>();
            return pause && pause->state() == PauseViewController::kInteractive;
        });
    };
    auto rolled = [&] {
        game.until([&] { return game.screen<GameViewController>() == level; });
        float const from = player.getPosition().x;
        game.frames(60);
        return player.getPosition().x - from;
    };
    ASSERT_TRUE(paused());
    // Held: down a few frames before the press that picks, as a press made with it would act.
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1);
    game.frames(5);
    tap(SDL_CONTROLLER_BUTTON_A);  // RESUME
    EXPECT_LT(std::abs(rolled()), 0.3f) << "the d-pad held across the pause rolled the ball";
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, 32767);
    EXPECT_GT(rolled(), 1.0f) << "the stick pushed beside a held-over d-pad did not roll the ball";
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, 0);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 0);
    // The keyboard's A held across the pause: Right pressed beside it, the other way, rolls the
    // ball right, and once Right is let go the ball comes to rest where it coasted, A still down.
    XInput keys;
    ASSERT_TRUE(keys.ok());
    ASSERT_TRUE(paused());
    keys.key("a", true);
    game.frames(5);
    tap(SDL_CONTROLLER_BUTTON_A);
    EXPECT_LT(std::abs(rolled()), 0.3f) << "A held across the pause rolled the ball";
    keys.key("Right", true);
    EXPECT_GT(rolled(), 1.0f) << "Right pressed beside a held-over A did not roll the ball";
    keys.key("Right", false);
    float const letGo = player.getPosition().x;
    EXPECT_TRUE(atRest());
    EXPECT_GT(player.getPosition().x, letGo - 0.1f) << "Right let go, the held-over A rolled the ball back";
    keys.key("a", false);
    ASSERT_TRUE(paused());
    tap(SDL_CONTROLLER_BUTTON_A);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, -32768);
    EXPECT_LT(rolled(), -1.0f) << "the stick pushed as the pause menu went did not roll the ball";
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, 0);
    ASSERT_TRUE(paused());
    tap(SDL_CONTROLLER_BUTTON_START);
    ASSERT_TRUE(game.until([&] { return game.screen<UnPauseViewController>() != nullptr; }));
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1);
    game.frames(1);
    ASSERT_NE(game.screen<UnPauseViewController>(), nullptr) << "the fade ended before the d-pad went down";
    EXPECT_GT(rolled(), 1.0f) << "the d-pad pressed during the fade did not roll the ball";
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 0);

    // The d-pad held down as START pauses: the menu opens on RESUME. The d-pad held as its restart
    // question opens: it opens on No. The stick held as No closes it: RESTART keeps the focus, and
    // the next tap moves it.
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_DOWN, 1);
    game.frames(10);
    tap(SDL_CONTROLLER_BUTTON_START);
    ASSERT_TRUE(game.until([&] {
        auto* pause = game.screen<PauseViewController>();
        return pause && pause->state() == PauseViewController::kInteractive;
    }));
    game.frames(30);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_DOWN, 0);
    game.frames(3);
    PauseViewController& pause = *game.screen<PauseViewController>();
    EXPECT_TRUE(pause.resumeButton().button().isHighlighted());
    ConfirmationBox& question = pause.restartPopup();
    tap(SDL_CONTROLLER_BUTTON_DPAD_DOWN);
    tap(SDL_CONTROLLER_BUTTON_DPAD_DOWN);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, 1);
    game.frames(5);
    tap(SDL_CONTROLLER_BUTTON_A);
    EXPECT_TRUE(game.until([&] { return question.state() == ConfirmationBox::kInteractive; }));
    game.frames(30);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, 0);
    EXPECT_EQ(question.focus().focused(), 1u);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTY, 32767);
    game.frames(5);
    tap(SDL_CONTROLLER_BUTTON_A);
    EXPECT_TRUE(game.until([&] { return question.isHidden(); }));
    game.frames(30);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTY, 0);
    game.frames(3);
    EXPECT_TRUE(pause.restartButton().button().isHighlighted());
    tap(SDL_CONTROLLER_BUTTON_DPAD_DOWN);
    EXPECT_TRUE(pause.mainMenuButton().button().isHighlighted());

    // The stick up, A and the d-pad's right held from the level's end until the results have been
    // up 30 frames, and Space tapped as the board counts up: nothing is pressed there, and the
    // focus stays on NEXT (Down then is BOARDS).
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTY, -32768);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 1);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1);
    game.app().transitToEndOfLevel(TriggerVariant(ResultsMenu::NormalGameModeTriggerParameters(3, 10, 0, 42000.0f, 0)),
                                   "levels/level01.pxl", "level01Name", true, false);
    ASSERT_TRUE(game.until([&] { return game.screen<EndOfLevelViewController>() != nullptr; }));
    game.frames(2);
    for (Uint32 type : {SDL_KEYDOWN, SDL_KEYUP}) {
        SDL_Event space{};
        space.type = type;
        space.key.keysym.scancode = SDL_SCANCODE_SPACE;
        SDL_PushEvent(&space);
        game.frames(2);
    }
    ASSERT_FALSE(game.screen<EndOfLevelViewController>()->results()->isFinished()) << "the board was in before Space";
    ASSERT_TRUE(game.until([&] {
        auto* end = game.screen<EndOfLevelViewController>();
        return end && end->results() && end->results()->isFinished();
    }));
    ResultsMenu& results = *game.screen<EndOfLevelViewController>()->results();
    game.frames(30);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTY, 0);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 0);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 0);
    game.frames(3);
    auto* end = game.screen<EndOfLevelViewController>();
    ASSERT_TRUE(end && end->results() == &results && results.isFinished()) << "a held input, or Space tapped as the board counted up, pressed on the results";
    ASSERT_TRUE(results.isLeaderboardFocusable());
    tap(SDL_CONTROLLER_BUTTON_DPAD_DOWN);
    ASSERT_EQ(results.focus().focused(), 3u);
    holdOnBoards("results");

    // The stick pushed as the main menu loads moves the start menu's focus once: PLAY to BOARDS.
    game.app().transitToMainMenu(boost::none);
    game.frames(1);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, 32767);
    game.frames(1);
    ASSERT_EQ(game.screen<MainMenuViewController>(), nullptr) << "the main menu was up before the stick was pushed";
    auto startMenuUp = [&] {
        return game.until([&] {
            auto* menu = game.screen<MainMenuViewController>();
            return menu && menu->startMenu().state() == 4;
        });
    };
    ASSERT_TRUE(startMenuUp());
    game.frames(30);
    MainMenuViewController& menu = *game.screen<MainMenuViewController>();
    EXPECT_EQ(menu.startMenu().focus().focused(), 1u) << "the stick pushed as the main menu loaded";
    // The keyboard and the pad at once: Left tapped with the stick still pushed moves the focus
    // (back to PLAY); the stick, pushed before it, stays at rest until let go.
    uint64_t const pushed = menu.startMenu().focus().focused();
    tapKey(game, keys, "Left", 3);
    game.frames(10);
    uint64_t const tapped = menu.startMenu().focus().focused();
    EXPECT_NE(tapped, pushed) << "Left tapped with the stick pushed did not move the focus";
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, 0);
    game.frames(10);
    EXPECT_EQ(menu.startMenu().focus().focused(), tapped) << "the stick, pushed over by Left, moved the focus again";
    ASSERT_EQ(menu.startMenu().focus().focused(), 2u);
    // Space picks PLAY and is held onto the level select: X tapped on the pad there makes it pick
    // nothing.
    keys.key("space", true);
    bool const select = game.until([&] { return menu.levelSelect().state() == 5; });
    tap(SDL_CONTROLLER_BUTTON_X);
    game.frames(60);
    keys.key("space", false);
    game.frames(5);
    ASSERT_TRUE(select);
    ASSERT_EQ(game.screen<MainMenuViewController>(), &menu) << "a pad's X made the held-over Space pick a level";
    ASSERT_EQ(menu.levelSelect().state(), 5u);
    tap(SDL_CONTROLLER_BUTTON_B);
    ASSERT_TRUE(startMenuUp());
    tap(SDL_CONTROLLER_BUTTON_DPAD_RIGHT);
    ASSERT_EQ(game.screen<MainMenuViewController>()->startMenu().focus().focused(), 1u);  // BOARDS
    holdOnBoards("main menu");
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_B, 1);
    game.frames(5);
    tap(SDL_CONTROLLER_BUTTON_A);
    EXPECT_TRUE(game.until([&] { return game.app().presentedView() != nullptr; }, 60));
    game.frames(60);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_B, 0);
    game.frames(10);
    EXPECT_NE(game.app().presentedView(), nullptr) << "B held as the boards came up closed them";
    tap(SDL_CONTROLLER_BUTTON_B);
    EXPECT_TRUE(game.until([&] { return game.app().presentedView() == nullptr; }, 60)) << "a new B left them up";
    SDL_JoystickDetachVirtual(device);
}

// A press made as a screen opens or fades acts once it takes the input, and one held through a
// cut-scene is none in its level. Level01's cut-scene skipped with A, Right and the stick held
// through it: the ball rests as play begins until the stick is pushed again. START or Escape
// pressed during the fade back into the level pauses it again. On the main menu, P tapped as the
// level select, the options or the boards come up goes back from them, and A tapped as the
// credits fade in skips them.
TEST(PlayInWindow, PressesMadeAsAScreenOpensOrFadesActThereAndNoneHeldThroughACutScene) {
    InProcessGame game({"--level", "levels/level01_intro.pxl"});
    ASSERT_TRUE(game.ok());
    auto cutScene = [&]() -> IntroGameModeStateMachine* {
        auto* screen = game.screen<GameViewController>();
        return screen ? dynamic_cast<IntroGameModeStateMachine*>(&screen->modeMachine()) : nullptr;
    };
    ASSERT_TRUE(game.until([&] { return cutScene() && cutScene()->state() == IntroGameModeStateMachine::kPlaying; }))
        << "level01's cut-scene did not start";
    int device = -1;
    SDL_Joystick* pad = game.attachPad(&device);
    ASSERT_NE(pad, nullptr);
    auto tap = [&](SDL_GameControllerButton button) { game.tap(pad, button); };
    XInput keys;
    ASSERT_TRUE(keys.ok());

    keys.key("Right", true);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, 32767);
    game.frames(10);
    tap(SDL_CONTROLLER_BUTTON_A);
    GameViewController* level = nullptr;
    bool const began = game.until([&] {
        level = game.screen<GameViewController>();
        return level && level->mode() != GameMode::Intro;
    });
    if (began) game.frames(30);
    float x0 = began ? level->getWorld().getPlayer().getPosition().x : 0.0f;
    if (began) game.frames(60);
    float const heldThrough = began ? level->getWorld().getPlayer().getPosition().x - x0 : 0.0f;
    keys.key("Right", false);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, 0);
    game.frames(5);
    ASSERT_TRUE(began) << "A did not skip the cut-scene into level01";
    EXPECT_LT(std::abs(heldThrough), 0.3f) << "Right and the stick held through the cut-scene rolled the ball";
    Player::Player& player = level->getWorld().getPlayer();
    x0 = player.getPosition().x;
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, 32767);
    game.frames(60);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, 0);
    EXPECT_GT(player.getPosition().x, x0 + 1.0f) << "the stick pushed again in level01 did not roll the ball";

    // RESUME picked, then the pause pressed during the fade: the pause menu is back once play has
    // resumed. START on the pad, then Escape on the keys.
    auto pauseMenuUp = [&] {
        return game.until([&] {
            auto* pause = game.screen<PauseViewController>();
            return pause && pause->state() == PauseViewController::kInteractive;
        });
    };
    tap(SDL_CONTROLLER_BUTTON_START);
    ASSERT_TRUE(pauseMenuUp());
    for (bool pad_ : {true, false}) {
        char const* what = pad_ ? "START" : "Escape";
        tap(SDL_CONTROLLER_BUTTON_A);
        ASSERT_TRUE(game.until([&] { return game.screen<UnPauseViewController>() != nullptr; })) << what;
        if (pad_)
            SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_START, 1);
        else
            keys.key("Escape", true);
        game.frames(2);
        bool const inFade = game.screen<UnPauseViewController>() != nullptr;
        if (pad_)
            SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_START, 0);
        else
            keys.key("Escape", false);
        ASSERT_TRUE(inFade) << "the fade ended before " << what << " went down";
        // The pause menu that comes up is a new one: the fade has handed the level back.
        bool const paused = game.until([&] {
            auto* pause = game.screen<PauseViewController>();
            return pause && pause->state() == PauseViewController::kInteractive;
        }, 300);
        EXPECT_TRUE(paused) << what << " pressed during the fade back into the level did not pause it";
        if (!paused) {
            tap(SDL_CONTROLLER_BUTTON_START);
            ASSERT_TRUE(pauseMenuUp());
        }
    }

    // The main menu, focus on PLAY. Each page is picked with A and P is tapped at once, as the
    // start menu goes: the page comes up and goes back, the start menu's focus on its button.
    game.app().transitToMainMenu(boost::none);
    ASSERT_TRUE(game.until([&] {
        auto* menu = game.screen<MainMenuViewController>();
        return menu && menu->startMenu().state() == 4;
    }));
    MainMenuViewController& menu = *game.screen<MainMenuViewController>();
    // The page came (opened), then the start menu is back up within `frames`.
    auto backOnTheStartMenu = [&](std::function<bool()> const& opened, int frames) {
        bool seen = false;
        return game.until([&] {
            seen = seen || opened();
            return seen && menu.currentMenu() == &menu.startMenu() && menu.startMenu().state() == 4;
        }, frames) && seen;
    };
    struct Page {
        char const* name;
        SDL_GameControllerButton to;  // from the focus the last page left
        uint64_t focus;
        std::function<bool()> opened, up;  // up: taking input
    };
    auto boards = [&] { return game.app().presentedView(); };
    for (Page const& page : {Page{"the level select", SDL_CONTROLLER_BUTTON_INVALID, 2u,
                                  [&] { return menu.currentMenu() == &menu.levelSelect(); },
                                  [&] { return menu.levelSelect().state() == 5; }},
                             Page{"the options", SDL_CONTROLLER_BUTTON_DPAD_LEFT, 0u,
                                  [&] { return menu.currentMenu() == &menu.options(); },
                                  [&] { return menu.options().state() == OptionsMenu::Active; }},
                             Page{"the boards", SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1u,
                                  [&] { return boards() != nullptr; },
                                  [&] { return boards() && boards()->inputTaker(); }}}) {
        if (page.to != SDL_CONTROLLER_BUTTON_INVALID) tap(page.to);
        if (page.focus == 1u) tap(page.to);  // OPTIONS, PLAY, BOARDS
        ASSERT_EQ(menu.startMenu().focus().focused(), page.focus) << page.name;
        SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 1);
        game.frames(1);
        tapKey(game, keys, "p", 2);
        SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 0);
        ASSERT_FALSE(page.up()) << page.name << " came up before P was let go";
        if (!backOnTheStartMenu(page.opened, 600)) {
            ADD_FAILURE() << "P tapped as " << page.name << " came up did not go back";
            tap(SDL_CONTROLLER_BUTTON_B);
        }
        ASSERT_TRUE(game.until([&] { return menu.startMenu().state() == 4; }));
    }
    // CREDITS (up from BOARDS): A again as they fade in skips them once they roll.
    tap(SDL_CONTROLLER_BUTTON_DPAD_UP);
    ASSERT_EQ(menu.startMenu().focus().focused(), 3u);
    Credits& credits = menu.credits().credits();
    tap(SDL_CONTROLLER_BUTTON_A);
    tap(SDL_CONTROLLER_BUTTON_A);
    ASSERT_NE(credits.state(), Credits::kScrolling) << "the credits rolled before A was let go";
    EXPECT_TRUE(backOnTheStartMenu([&] { return menu.currentMenu() == &menu.credits(); }, 300))
        << "A tapped as the credits came up did not skip them";
    SDL_JoystickDetachVirtual(device);
}

// The GL view's text field over a running level: typed keys edit it and do not reach the game,
// Return posts once, a tap on the dimmed background cancels, and then the keys are the game's again
// (one held as it opened and let go there is up).
TEST(PlayInWindow, TextFieldTakesTypedKeysAndPostsOnce) {
    InProcessGame game({"--level", "levels/level01.pxl"});
    ASSERT_TRUE(game.ok());
    ASSERT_TRUE(game.until([&] { return game.screen<GameViewController>() != nullptr; }));
    game.frames(60);
    XInput x;
    ASSERT_TRUE(x.ok());
    os::TextEntryKeyboard& keyboard = *game.platform().keyboard();
    std::vector<std::pair<bool, std::string>> posted;
    keyboard.initializeKeyboardWithCallback([&](bool cancelled, std::string text) { posted.emplace_back(cancelled, text); },
                                            "ze", "Name");
    game.frames(30);
    ASSERT_TRUE(keyboard.isKeyboardShown());
    ASSERT_NE(game.app().overlay(os::Overlay::TextEntry), nullptr);
    Player::Player& player = game.screen<GameViewController>()->getWorld().getPlayer();
    float const rest = player.getPosition().x;
    for (char const* key : {"l", "d", "BackSpace", "v", "p", "BackSpace"}) tapKey(game, x, key, 2);
    game.frames(30);
    EXPECT_EQ(keyboard.text(), "zelv");
    EXPECT_NE(game.screen<GameViewController>(), nullptr) << "P paused the game under the field";
    EXPECT_NEAR(player.getPosition().x, rest, 0.2f) << "D rolled the player under the field";
    tapKey(game, x, "Return", 2);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0], std::make_pair(false, std::string("zelv")));
    keyboard.postTextCallbackAndRemoveKeyboard(true);
    EXPECT_EQ(posted.size(), 1u);
    EXPECT_TRUE(game.until([&] { return game.app().overlay(os::Overlay::TextEntry) == nullptr; }, 60));

    // Right held as the field opens and let go there is let go for the game too.
    x.key("Right", true);
    game.frames(5);
    keyboard.initializeKeyboardWithCallback([&](bool cancelled, std::string text) { posted.emplace_back(cancelled, text); },
                                            "", "Name");
    game.frames(30);
    x.key("Right", false);
    game.frames(5);
    x.button(100, 100, true);
    game.frames(2);
    x.button(100, 100, false);
    game.frames(2);
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[1], std::make_pair(true, std::string()));
    EXPECT_FALSE(keyboard.isKeyboardShown());
    EXPECT_TRUE(game.until([&] { return game.app().overlay(os::Overlay::TextEntry) == nullptr; }, 60));
    x.key("Right", true);
    game.frames(60);
    x.key("Right", false);
    EXPECT_GT(player.getPosition().x, rest + 1.0f) << "the keys stayed with the field";
}

// Every press of a pad acts once. Each d-pad button is an input of its own, and the d-pad and the
// stick are one direction: in level01 the d-pad's Right pressed beside its Left held, or its Left
// beside the stick held right, steers the ball, and letting it go steers nothing back. In the
// menus a d-pad press beside its opposite held (the same d-pad, a key, another pad) steps, and
// letting it go steps nothing. Two d-pad taps as the pause menu opens, or as the main menu
// loads, step twice. A stick resting short of a step as the level select opens is no press there,
// and pushed on to a step it moves the focus.
TEST(PlayInWindow, EachPadPressActsOnceBesideItsOppositeAndWhileAScreenChanges) {
    InProcessGame game({"--level", "levels/level01.pxl"});
    ASSERT_TRUE(game.ok());
    ASSERT_TRUE(game.until([&] { return game.screen<GameViewController>() != nullptr; }));
    SDL_Joystick* pads[2] = {};
    int devices[2] = {-1, -1};
    for (int i = 0; i < 2; ++i) {
        pads[i] = game.attachPad(&devices[i]);
        ASSERT_NE(pads[i], nullptr);
    }
    SDL_Joystick* const pad = pads[0];
    // Down or up for two frames.
    auto set = [&](SDL_Joystick* on, SDL_GameControllerButton button, bool down) {
        SDL_JoystickSetVirtualButton(on, button, down ? 1 : 0);
        game.frames(2);
    };
    auto tap = [&](SDL_GameControllerButton button) {
        set(pad, button, true);
        set(pad, button, false);
    };
    // Taps until there, round a menu's ring of buttons.
    auto tapTo = [&](std::function<bool()> const& there, SDL_GameControllerButton button) {
        for (int i = 0; i < 5 && !there(); ++i) tap(button);
        return there();
    };
    // Pushed right, or up (SDL's y is down).
    auto stick = [&](float x, SDL_GameControllerAxis axis = SDL_CONTROLLER_AXIS_LEFTX) {
        SDL_JoystickSetVirtualAxis(pad, axis, Sint16((axis == SDL_CONTROLLER_AXIS_LEFTY ? -x : x) * 32767.0f));
        game.frames(2);
    };
    // Full, then back through 0.3, then let go, as a stick springs back.
    auto flick = [&](float way, SDL_GameControllerAxis axis) {
        for (float x : {1.0f, 0.3f, 0.0f}) stick(x * way, axis);
    };
    // A tap between two frames: SDL's down and up events queued, the button up as the frame reads it.
    auto between = [&](SDL_GameControllerButton button) {
        for (Uint8 down : {1, 0}) {
            SDL_JoystickSetVirtualButton(pad, button, down);
            SDL_GameControllerUpdate();
        }
        game.frames(1);
    };
    // A key's SDL event, queued for the next frame.
    auto key = [](SDL_Scancode code, bool down) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.scancode = code;
        SDL_PushEvent(&e);
    };
    // Left down, Right down, Left up, Right up, two frames apart, on the keys or the d-pad.
    auto roll = [&](bool keys) {
        for (int i = 0; i < 4; ++i) {
            bool const right = i % 2, down = i < 2;
            if (keys) {
                key(right ? SDL_SCANCODE_RIGHT : SDL_SCANCODE_LEFT, down);
                game.frames(2);
            } else {
                set(pad, right ? SDL_CONTROLLER_BUTTON_DPAD_RIGHT : SDL_CONTROLLER_BUTTON_DPAD_LEFT, down);
            }
        }
    };

    Player::Player& player = game.screen<GameViewController>()->getWorld().getPlayer();
    auto steered = [&](int way) {
        return game.until([&] { return player.input().left == (way < 0) && player.input().right == (way > 0); }, 30);
    };
    set(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
    EXPECT_TRUE(steered(-1));
    set(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
    EXPECT_TRUE(steered(1)) << "the d-pad's Right beside its Left held did not steer right";
    set(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, false);
    game.frames(10);
    EXPECT_TRUE(steered(0)) << "the d-pad's Right let go steered left again";
    set(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, false);
    stick(1);
    EXPECT_TRUE(steered(1));
    set(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
    EXPECT_TRUE(steered(-1)) << "the d-pad's Left beside the stick held right did not steer left";
    set(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, false);
    game.frames(10);
    EXPECT_TRUE(steered(0)) << "the d-pad's Left let go steered right again";
    stick(0);

    // Two d-pad Down taps as the pause menu opens: RESUME to RESTART.
    tap(SDL_CONTROLLER_BUTTON_START);
    ASSERT_NE(game.screen<PauseViewController>(), nullptr);
    tap(SDL_CONTROLLER_BUTTON_DPAD_DOWN);
    tap(SDL_CONTROLLER_BUTTON_DPAD_DOWN);
    ASSERT_NE(game.screen<PauseViewController>()->state(), PauseViewController::kInteractive)
        << "the pause menu was up before the taps";
    ASSERT_TRUE(game.until([&] { return game.screen<PauseViewController>()->state() == PauseViewController::kInteractive; }));
    game.frames(10);
    PauseViewController& pause = *game.screen<PauseViewController>();
    EXPECT_TRUE(pause.restartButton().button().isHighlighted()) << "two taps as the pause menu opened";
    // The d-pad's Up beside its Down held, beside a key's Down, beside another pad's Down.
    auto highlighted = [&](AnimatedButton& b) { return game.until([&] { return b.button().isHighlighted(); }, 30); };
    XInput keys;
    ASSERT_TRUE(keys.ok());
    for (int beside = 0; beside < 3; ++beside) {
        SCOPED_TRACE(beside);
        auto down = [&](bool on) {
            if (beside == 1) {
                keys.key("Down", on);
            } else {
                SDL_JoystickSetVirtualButton(pads[beside / 2], SDL_CONTROLLER_BUTTON_DPAD_DOWN, on ? 1 : 0);
            }
        };
        ASSERT_TRUE(tapTo([&] { return pause.optionsButton().button().isHighlighted(); }, SDL_CONTROLLER_BUTTON_DPAD_DOWN));
        down(true);
        ASSERT_TRUE(highlighted(pause.restartButton()));
        set(pad, SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        EXPECT_TRUE(highlighted(pause.optionsButton())) << "the d-pad's Up beside a Down held did not step";
        set(pad, SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        game.frames(10);
        down(false);
        game.frames(10);
        EXPECT_TRUE(pause.optionsButton().button().isHighlighted()) << "letting Up or Down go stepped";
    }
    // A key let go and pressed again in the very next frame steps twice: OPTIONS to MAIN MENU.
    key(SDL_SCANCODE_DOWN, true);
    key(SDL_SCANCODE_DOWN, false);
    game.frames(1);
    key(SDL_SCANCODE_DOWN, true);
    game.frames(1);
    key(SDL_SCANCODE_DOWN, false);
    EXPECT_TRUE(highlighted(pause.mainMenuButton())) << "a key tapped in two consecutive frames";
    // Presses made as the pause menu opens act there in turn, each opening it on OPTIONS: Escape
    // then Down read by one frame; the stick flicked down; a d-pad Down tapped between two frames,
    // then the keys' Left and Right rolled over.
    for (int presses = 0; presses < 3; ++presses) {
        SCOPED_TRACE(presses);
        tap(SDL_CONTROLLER_BUTTON_START);
        ASSERT_TRUE(game.until([&] { return game.screen<GameViewController>() != nullptr; }));
        game.frames(10);
        if (presses == 0) {
            key(SDL_SCANCODE_ESCAPE, true);
            key(SDL_SCANCODE_ESCAPE, false);
            key(SDL_SCANCODE_DOWN, true);
            game.frames(1);
            key(SDL_SCANCODE_DOWN, false);
        } else {
            tap(SDL_CONTROLLER_BUTTON_START);
        }
        if (presses == 1) flick(-1, SDL_CONTROLLER_AXIS_LEFTY);
        if (presses == 2) {
            between(SDL_CONTROLLER_BUTTON_DPAD_DOWN);
            roll(true);
        }
        auto* opening = game.screen<PauseViewController>();
        ASSERT_TRUE(opening && opening->state() != PauseViewController::kInteractive) << "the pause menu was up before";
        ASSERT_TRUE(game.until([&] { return opening->state() == PauseViewController::kInteractive; }));
        game.frames(20);
        EXPECT_TRUE(opening->optionsButton().button().isHighlighted());
    }

    // Two d-pad Right taps as the main menu loads: PLAY to BOARDS to OPTIONS.
    game.app().transitToMainMenu(boost::none);
    game.frames(1);
    tap(SDL_CONTROLLER_BUTTON_DPAD_RIGHT);
    tap(SDL_CONTROLLER_BUTTON_DPAD_RIGHT);
    auto startMenuUp = [&] {
        return game.until([&] {
            auto* menu = game.screen<MainMenuViewController>();
            return menu && menu->startMenu().state() == 4;
        });
    };
    auto* loaded = game.screen<MainMenuViewController>();
    ASSERT_TRUE(loaded == nullptr || loaded->startMenu().state() != 4) << "the start menu was up before the taps";
    ASSERT_TRUE(startMenuUp());
    game.frames(10);
    MainMenuViewController& menu = *game.screen<MainMenuViewController>();
    FocusNavigator& focus = menu.startMenu().focus();
    EXPECT_EQ(focus.focused(), 0u) << "two taps as the main menu loaded";
    // The d-pad's Left beside another pad's Right held steps, and letting it go steps nothing.
    auto at = [&](uint64_t node) { return game.until([&] { return focus.focused() == node; }, 30); };
    ASSERT_TRUE(tapTo([&] { return focus.focused() == 0u; }, SDL_CONTROLLER_BUTTON_DPAD_RIGHT));
    set(pads[1], SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
    ASSERT_TRUE(at(2));
    set(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
    EXPECT_TRUE(at(0)) << "the d-pad's Left beside another pad's Right held did not step";
    set(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, false);
    set(pads[1], SDL_CONTROLLER_BUTTON_DPAD_RIGHT, false);
    game.frames(10);
    EXPECT_EQ(focus.focused(), 0u) << "letting Left or Right go stepped";
    ASSERT_TRUE(tapTo([&] { return focus.focused() == 2u; }, SDL_CONTROLLER_BUTTON_DPAD_LEFT));  // PLAY
    between(SDL_CONTROLLER_BUTTON_DPAD_RIGHT);
    EXPECT_TRUE(at(1)) << "a d-pad tap between two frames on the start menu";
    ASSERT_TRUE(tapTo([&] { return focus.focused() == 2u; }, SDL_CONTROLLER_BUTTON_DPAD_LEFT));

    // An A tapped between two frames opens the level select. As it opens again, a d-pad tap
    // between two frames, then the stick flicked, each move its focus to a neighbour of the tile
    // it opens on (found by opening it once), and so does the stick resting at 0.35 as it opens,
    // then pushed all the way.
    between(SDL_CONTROLLER_BUTTON_A);
    ASSERT_TRUE(game.until([&] { return menu.levelSelect().state() == 5; })) << "an A tapped between two frames";
    FocusNavigator::Node const& first = menu.levelSelect().focus().focusedNode();
    auto const axis = first.up || first.down ? SDL_CONTROLLER_AXIS_LEFTY : SDL_CONTROLLER_AXIS_LEFTX;
    float const way = first.up || (!first.down && first.right) ? 1.0f : -1.0f;
    ASSERT_TRUE(first.up || first.down || first.left || first.right);
    uint64_t const neighbour = *(axis == SDL_CONTROLLER_AXIS_LEFTY ? (way > 0 ? first.up : first.down)
                                                                   : (way > 0 ? first.right : first.left));
    auto const dpad = [&](float to) {
        return axis == SDL_CONTROLLER_AXIS_LEFTY
                   ? (to > 0 ? SDL_CONTROLLER_BUTTON_DPAD_UP : SDL_CONTROLLER_BUTTON_DPAD_DOWN)
                   : (to > 0 ? SDL_CONTROLLER_BUTTON_DPAD_RIGHT : SDL_CONTROLLER_BUTTON_DPAD_LEFT);
    };
    uint64_t const opened = menu.levelSelect().focus().focused();
    for (bool flicked : {false, true}) {
        tap(SDL_CONTROLLER_BUTTON_B);
        ASSERT_TRUE(startMenuUp());
        game.frames(10);
        tap(SDL_CONTROLLER_BUTTON_A);
        if (flicked)
            flick(way, axis);
        else
            between(dpad(way));
        ASSERT_NE(menu.levelSelect().state(), 5u) << "the level select was up before the press";
        ASSERT_TRUE(game.until([&] { return menu.levelSelect().state() == 5; }));
        game.frames(10);
        EXPECT_EQ(menu.levelSelect().focus().focused(), neighbour) << (flicked ? "the stick flicked" : "the d-pad tapped")
                                                                   << " as the level select opened";
        // It opens where it was left.
        ASSERT_TRUE(tapTo([&] { return menu.levelSelect().focus().focused() == opened; }, dpad(-way)));
    }
    tap(SDL_CONTROLLER_BUTTON_B);
    ASSERT_TRUE(startMenuUp());
    game.frames(10);
    stick(0.35f * way, axis);
    tap(SDL_CONTROLLER_BUTTON_A);
    ASSERT_TRUE(game.until([&] { return menu.levelSelect().state() == 5; }));
    game.frames(30);
    uint64_t const resting = menu.levelSelect().focus().focused();
    stick(way, axis);
    EXPECT_TRUE(game.until([&] { return menu.levelSelect().focus().focused() != resting; }, 30))
        << "the stick resting as the level select opened left it dead (on " << resting << ")";
    stick(0, axis);

    // Left and Right rolled over on the keys and the d-pad, a d-pad Right tapped between two
    // frames and the stick flicked right, made as the main menu loads, step the start menu's focus
    // as they do on the open menu (from PLAY).
    auto presses = [&] {
        roll(true);
        roll(false);
        between(SDL_CONTROLLER_BUTTON_DPAD_RIGHT);
        flick(1, SDL_CONTROLLER_AXIS_LEFTX);
    };
    tap(SDL_CONTROLLER_BUTTON_B);
    ASSERT_TRUE(startMenuUp());
    ASSERT_TRUE(tapTo([&] { return focus.focused() == 2u; }, SDL_CONTROLLER_BUTTON_DPAD_LEFT));
    std::string steps;
    game.everyFrame = [&] {
        auto* up = game.screen<MainMenuViewController>();
        if (!up || up->startMenu().state() != 4) return;
        char const at = char('0' + up->startMenu().focus().focused());
        if (steps.empty() || steps.back() != at) steps += at;
    };
    game.everyFrame();
    presses();
    game.frames(10);
    std::string const settled = std::exchange(steps, "");
    game.app().transitToMainMenu(boost::none);
    game.frames(1);
    presses();
    auto* reloaded = game.screen<MainMenuViewController>();
    ASSERT_TRUE(reloaded == nullptr || reloaded->startMenu().state() != 4) << "the start menu was up before the presses";
    ASSERT_TRUE(startMenuUp());
    game.frames(30);  // handed on two frames apart
    game.everyFrame = nullptr;
    EXPECT_EQ(steps, settled) << "presses made as the main menu loaded";
    for (int device : devices) SDL_JoystickDetachVirtual(device);
}

}  // namespace

int main(int argc, char** argv) { return testing_support::runTestsUnderXvfb(argc, argv); }
