// Cut-scenes and the first level's tutorial inside a game screen on a builder level, run the way
// the app frame runs it (dispatch, then update), without GL, with the archive's fonts, a loopback
// sound context, recording callbacks and a clock and analytics log the test owns.
#include <gtest/gtest.h>

#include <fstream>

#include "audio/tests/LoopbackDevice.h"
#include "fonts/Context.h"
#include "game/CutsceneServices.h"
#include "game/GameViewController.h"
#include "game/IntroGameModeStateMachine.h"
#include "game/TutorialOverlay.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"
#include "tools/datatool/LevelBuilder.h"
#include "world/Player.h"

namespace {

using Intro = IntroGameModeStateMachine;
using Strings = std::vector<std::string>;

// Flat ground with the player in the middle; a cut-scene when given its music, else level01's tutorial.
PristineLevel::Data level(std::string const& soundtrack = "", float creditsMs = 0.0f) {
    levels::LevelBuilder b;
    b.ground({{-50.0f, 0.0f}, {50.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
    b.checkPoint({0.0f, 0.4f});
    PristineLevel::Data d = b.data();
    d.metaData.tutorial = soundtrack.empty() ? 1 : 0;
    if (!soundtrack.empty()) d.metaData.mode = GameMode::Intro;
    d.metaData.introSoundtrack = soundtrack;
    d.metaData.introEndTime = 12000.0f;
    d.metaData.introCueTime = creditsMs;
    return d;
}

struct Popup {
    std::string message;
    std::function<void()> onAffirmative;
};

struct Screen {
    EventHandler events;
    audio_test::LoopbackContext audio;
    std::unique_ptr<Fonts::Context> fonts;
    Strings started, pauses;
    int mainMenus = 0;
    std::vector<Popup> popups;
    std::unique_ptr<GameViewController> game;
    float now = 1000.0f;

    Screen(PristineLevel::Data level, std::string const& path, bool skipTutorial = true,
           std::string const& locale = "en_US")
        : fonts(std::make_unique<Fonts::Context>(nullptr, "fonts/", locale)) {
        game = std::make_unique<GameViewController>(
            nullptr, &audio.context, fonts.get(), &events, path, "testName", nullptr,
            [](TriggerVariant const&, std::string const&, std::string const&) {},
            [this](std::string const& p, std::string const&) { pauses.push_back(p); },
            [this](ConfirmationBox::Parameters const& p) { popups.push_back({p.message, p.onAffirmative}); }, false,
            [this](std::string const& p, std::string const& n, bool, bool s, bool) {
                started.push_back(p + " " + n + (s ? " skip" : ""));
            },
            std::move(level), skipTutorial, [this](boost::optional<std::string> const&) { ++mainMenus; }, false);
    }
    void frame() {
        events.dispatch();
        now += 1000.0f / 60.0f;
        game->update(audio.context, 1000.0f / 60.0f, now);
        audio.context.update(1000.0f / 60.0f);
    }
    void frames(int n) {
        for (int i = 0; i < n; ++i) frame();
    }
    // Frames until done() holds, at most n; whether it held.
    bool until(std::function<bool()> const& done, int n = 2000) {
        for (int i = 0; i < n && !done(); ++i) frame();
        return done();
    }
    Intro& intro() { return dynamic_cast<Intro&>(game->modeMachine()); }
    // Frames until the fade is complete; how many it took.
    int fadeOut() {
        int n = 0;
        while (intro().state() == Intro::kFading && n < 1000) frame(), ++n;
        return n;
    }
    void pad(float x, bool jump, int n = 1) {
        GamepadState p;
        p.dpadX = x;
        p.buttonA = jump ? 1 : 0;
        for (int i = 0; i < n; ++i) game->gamepadInput(p), frame();
    }
};

glm::vec2 centre(Button const& b) {
    Rect const& r = b.hitRect();
    return glm::vec2(r.minX + r.maxX, r.minY + r.maxY) * 0.5f;
}

// The test's clock and analytics log in place of the platform's; the platform's are back after.
class CutsceneTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static testing_support::TempDir documents;
        setenv("ZELV_DOCUMENTS_DIR", documents.path().c_str(), 1);
        platform_services::setScreenSizes(1280.0f, 720.0f, 1334.0f, 750.0f);
        Singleton<FileSystem>::instance().mount((testing_support::binaryDir() / "pak0.pak").string());
    }
    void SetUp() override {
        shell_services::setControllerPresent(false);
        setSubtitles(true);
        CutsceneServices& s = cutsceneServices();
        s.nowMs = [this] { return clock; };
        s.musicStartMs = [] { return int64_t(0); };
        s.syncMusic = [this](uint64_t position, uint64_t tolerance) { syncs.emplace_back(position, tolerance); };
        s.logEvent = [this](char const* name) { log.emplace_back(name); };
        s.makeCredits = nullptr;
    }
    void TearDown() override { cutsceneServices() = CutsceneServices::platform(); }
    static void setSubtitles(bool on) {
        RoamingDataFile file("roamingData");
        file.data.setSubtitlesEnabled(on);
        file.data.setControlScheme(0);
    }

    int64_t clock = 0;
    std::vector<std::pair<uint64_t, uint64_t>> syncs;
    Strings log;
};

TEST_F(CutsceneTest, SkipFadesQuicklyAndStartsTheIntroducedLevelOnce) {
    Screen s(level("music/intro"), "levels/level01_intro.pxl", false);
    Intro& intro = s.intro();
    EXPECT_EQ(log, Strings{"PLAYED_CUTSCENE_WITH_PATH: levels/level01_intro.pxl"});
    s.frame();
    // Hidden HUD and muted level sounds from the first frame.
    EXPECT_TRUE(s.game->hud().isHidden());
    EXPECT_EQ(s.audio.context.categoryVolume(0), 0.0f);
    s.frames(30);
    ASSERT_EQ(intro.state(), Intro::kPlaying);
    s.game->touchBegan(centre(intro.skipButton()), 1);
    s.game->touchEnded(centre(intro.skipButton()), 1);
    EXPECT_EQ(log.back(), "SKIPPED_INTRO");
    // 400 ms of fade, then the frame that finishes.
    int const n = s.fadeOut();
    EXPECT_GE(n, 24);
    EXPECT_LE(n, 26);
    EXPECT_EQ(s.started, Strings{"levels/level01.pxl level01Name"});
    EXPECT_EQ(s.audio.context.categoryVolume(0), 1.0f);

    // A late tap or a second finish starts nothing more.
    s.game->touchBegan(centre(intro.skipButton()), 1);
    s.game->touchEnded(centre(intro.skipButton()), 1);
    s.frames(10);
    intro.finish();
    EXPECT_EQ(s.started.size(), 1u);
    EXPECT_EQ(std::count(log.begin(), log.end(), "SKIPPED_INTRO"), 1);

    // With a controller, A or the pause button skips, and nothing pauses; the tutorial's skip is passed on.
    shell_services::setControllerPresent(true);
    for (bool byA : {true, false}) {
        Screen c(level("music/intro"), "levels/level03_intro.pxl", true);
        c.frames(2);
        if (byA) c.pad(0.0f, true);
        else c.game->buttonPressed(GameViewController::pauseButtonCode);
        EXPECT_EQ(log.back(), "SKIPPED_INTRO");
        c.fadeOut();
        EXPECT_EQ(c.started, Strings{"levels/level03.pxl level03Name skip"});
        EXPECT_TRUE(s.pauses.empty() && c.pauses.empty());
    }
}

TEST_F(CutsceneTest, ClosingFadeFollowsTheMusicAndLeadsToTheMainMenu) {
    // No record names it as its intro.
    Screen s(level("music/intro"), "levels/intro.pxl");
    Intro& intro = s.intro();
    s.frames(3);
    clock = 9999;
    s.frame();
    EXPECT_EQ(intro.state(), Intro::kPlaying);
    // Each playing frame asks the music to stay within 100 ms of the world time.
    ASSERT_EQ(syncs.size(), 2u);
    EXPECT_EQ(syncs.back().second, 100u);
    EXPECT_NEAR(double(syncs.back().first), s.game->getWorld().getTime() - 1000.0 / 60.0, 1.0);
    clock = 10000;  // length - 2000
    s.frame();
    EXPECT_EQ(intro.state(), Intro::kFading);
    size_t const synced = syncs.size();
    int const n = s.fadeOut();
    EXPECT_GE(n, 79);  // about 1333 ms
    EXPECT_LE(n, 82);
    EXPECT_EQ(syncs.size(), synced);
    EXPECT_EQ(s.audio.context.musicVolume(), 0.0f);
    EXPECT_EQ(s.mainMenus, 1);
    EXPECT_TRUE(s.started.empty());
}

TEST_F(CutsceneTest, SubtitlesAreLaidOutByLineCountAndOnlyWhenWanted) {
    testing_support::TempDir dir;
    std::string const locale = preferredLocale();
    std::ofstream(dir / ("cut_" + locale + ".srt")) << "1\n00:00:01,000 --> 00:00:02,000\nOne line\n\n"
                                                       "2\n00:00:03,000 --> 00:00:04,000\nTwo\nlines\n\n"
                                                       "3\n00:00:05,000 --> 00:00:06,000\nThree\nlines\nhere\n";
    std::ofstream(dir / ("empty_" + locale + ".srt")) << "";
    Screen s(level((dir / "cut").string()), "levels/intro.pxl");
    Intro& intro = s.intro();
    Fonts::Font const font = s.fonts->font("subtitles");
    ASSERT_NE(font.font, nullptr);
    float const p = font.font->lineHeight * font.font->lineSpacing;
    ASSERT_GT(p, 0.0f);
    s.frames(2);
    std::vector<std::pair<int64_t, std::vector<glm::vec2>>> const shown = {
        {1500, {{640.0f, 75.0f - 0.5f * p}}},
        {3500, {{640.0f, 75.0f}, {640.0f, 75.0f - p}}},
        {5500, {{640.0f, 75.0f}, {640.0f, 75.0f - p}, {640.0f, 75.0f - 2.0f * p}}}};
    for (auto const& [t, origins] : shown) {
        clock = t;
        s.frame();
        EXPECT_EQ(intro.subtitleOrigins(), origins) << t;
        EXPECT_EQ(intro.subtitleAlpha(), 1.0f);
        EXPECT_FALSE(intro.subtitleMesh().empty());
    }

    // A missing or empty file shows nothing; with the option off none is read.
    for (std::string const name : {"missing", "empty", "cut"}) {
        setSubtitles(name != "cut");
        Screen other(level((dir / name).string()), "levels/intro.pxl");
        other.frames(2);
        for (int64_t t : {1500, 3500, 5500}) {
            clock = t;
            other.frame();
            EXPECT_EQ(other.intro().subtitleAlpha(), 0.0f) << name;
            EXPECT_TRUE(other.intro().subtitleMesh().empty()) << name;
        }
    }
}

struct FakeCredits : CutsceneCredits {
    std::function<void()> onEnd;
    bool idle = true;
    int starts = 0;
    bool isIdle() const override { return idle; }
    void start() override { ++starts, idle = false; }
    void update(float) override {}
    float fade() const override { return idle ? 0.0f : 1.0f; }
    void draw(Graphics::Context*, Graphics::StandardShader*, glm::mat4 const&) override {}
};

TEST_F(CutsceneTest, CreditsRunFromTheirStartAndLeadToTheFade) {
    FakeCredits* credits = nullptr;
    cutsceneServices().makeCredits = [&](Graphics::Context*, Audio::Context*, Fonts::Context*,
                                         std::function<void()> const& onEnd, glm::vec4 const&, uint32_t,
                                         float) -> std::unique_ptr<CutsceneCredits> {
        auto c = std::make_unique<FakeCredits>();
        c->onEnd = onEnd;
        credits = c.get();
        return c;
    };
    Screen s(level("music/end", 3000.0f), "levels/end.pxl");
    ASSERT_NE(credits, nullptr);
    s.frames(2);
    clock = 3000;
    s.frame();
    EXPECT_EQ(credits->starts, 0);
    clock = 3001;
    s.frame();
    EXPECT_EQ(credits->starts, 1);
    // Past length - 2000 the credits still run; only their end closes the scene.
    clock = 11000;
    s.frames(10);
    EXPECT_EQ(s.intro().state(), Intro::kPlaying);
    EXPECT_EQ(credits->starts, 1);
    credits->idle = true;
    credits->onEnd();
    s.fadeOut();
    EXPECT_EQ(s.mainMenus, 1);

    // The real credits scroll out well after the length and then close the scene.
    cutsceneServices().makeCredits = CutsceneServices::platform().makeCredits;
    Screen rolled(level("music/end", 3000.0f), "levels/end.pxl");
    ASSERT_TRUE(rolled.intro().hasCredits());
    rolled.frames(2);
    clock = 3001;
    for (int i = 0; i < 100000 && rolled.intro().state() == Intro::kPlaying; ++i) clock += 16, rolled.frame();
    EXPECT_EQ(rolled.intro().state(), Intro::kFading);
    EXPECT_GT(clock, 12000);
    rolled.fadeOut();
    EXPECT_EQ(rolled.mainMenus, 1);
}

TEST_F(CutsceneTest, TutorialLessonsFollowTouchesAndSignals) {
    // Skipped, or in a level without the flag, there is none.
    EXPECT_EQ(Screen(level(), "levels/level01.pxl", true).game->tutorial(), nullptr);
    EXPECT_EQ(Screen(level("music/intro"), "levels/level01.pxl", false).game->tutorial(), nullptr);
    log.clear();

    Screen s(level(), "levels/level01.pxl", false);
    TutorialOverlay& t = *s.game->tutorial();
    glm::vec2 const left = centre(t.leftThumb()), right = centre(t.rightThumb());
    s.frame();
    ASSERT_TRUE(t.isActive());

    // Both thumbs for just over a second; lifting one restarts the count.
    s.game->touchBegan(left, 1);
    s.game->touchBegan(right, 2);
    s.frames(40);
    s.game->touchEnded(right, 2);
    s.frame();
    s.game->touchBegan(right, 2);
    s.frames(55);
    EXPECT_EQ(t.step(), 0u);
    s.frames(10);
    EXPECT_EQ(t.step(), 1u);
    // Step 1 waits for the fade-out and for both thumbs to lift.
    s.frames(40);
    EXPECT_EQ(t.step(), 1u);
    s.game->touchEnded(left, 1);
    s.game->touchEnded(right, 2);
    s.frame();
    EXPECT_EQ(t.step(), 2u);
    // From now on the thumbs take no touch.
    EXPECT_FALSE(t.touchBegan(left, 3));

    // 2.5 s of moving; stopping restarts the count.
    s.pad(1.0f, false, 100);
    s.frame();
    s.pad(-1.0f, false, 140);
    EXPECT_EQ(t.step(), 2u);
    s.pad(-1.0f, false, 20);
    EXPECT_EQ(t.step(), 3u);

    // The jump lesson waits for its zone; a held jump counts once, three presses end it.
    s.frames(90);
    EXPECT_EQ(t.step(), 3u);
    s.events.trigger(TutorialOverlay::signalJumpLessonOn);
    s.frame();
    EXPECT_EQ(t.step(), 4u);
    s.pad(0.0f, true, 20);
    EXPECT_EQ(t.jumpCount(), 1u);
    for (int jump = 0; jump < 2; ++jump) s.frames(60), s.pad(0.0f, true, 3);
    ASSERT_TRUE(s.until([&] { return t.step() == 5u; }, 60));
    // Four seconds on, the overlay fades and the camera is let go.
    s.frames(239);
    EXPECT_EQ(t.step(), 5u);
    ASSERT_TRUE(s.until([&] { return t.step() == 7u; }, 40));

    s.events.trigger(TutorialOverlay::signalDiveLessonOn);
    s.frame();
    EXPECT_EQ(t.step(), 8u);
    // The bridge hint, even leaving its zone first, switches to step 9 and logs once.
    s.events.trigger(TutorialOverlay::signalBridgeHintOff);
    s.events.trigger(TutorialOverlay::signalBridgeHintOn);
    s.frame();
    EXPECT_EQ(t.step(), 9u);
    EXPECT_EQ(log, (Strings{"TUTORIAL_WAIT_UNTIL_BOTH_BUTTONS_PRESSED", "TUTORIAL_LEFT_THUMB_MOVEMENT",
                            "TUTORIAL_RIGHT_THUMB_JUMP", "TUTORIAL_DIVING_LESSON", "TUTORIAL_MECHANICAL_BRIDGE"}));

    // Finished for good: the player is free and later signals change nothing.
    s.events.trigger(TutorialOverlay::signalFinish);
    s.frame();
    EXPECT_TRUE(t.isFinished());
    for (uint32_t id : {TutorialOverlay::signalStart, TutorialOverlay::signalJumpLessonOff,
                        TutorialOverlay::signalDiveLessonOn, TutorialOverlay::signalBridgeHintOff}) {
        s.events.trigger(id);
    }
    s.frames(200);
    EXPECT_FALSE(t.isActive());
    EXPECT_EQ(t.step(), 9u);
    EXPECT_EQ(t.overlayAlpha(), 0.0f);
    EXPECT_EQ(log.size(), 5u);
    Player::Player& player = s.game->getWorld().getPlayer();
    float const x = player.getPosition().x;
    s.pad(1.0f, false, 60);
    EXPECT_GT(player.getPosition().x, x + 0.5f);
}

// A mouse is one pointer: each thumb held in turn, then one drag and one swipe at a time, goes
// through the lessons that ask for touches.
TEST_F(CutsceneTest, TutorialLessonsWithOnePointer) {
    Screen s(level(), "levels/level01.pxl", false);
    TutorialOverlay& t = *s.game->tutorial();
    glm::vec2 const left = centre(t.leftThumb()), right = centre(t.rightThumb());
    s.frame();
    // Under a second on the left, then over a second on each in turn.
    s.game->touchBegan(left, 1);
    s.frames(50);
    s.game->touchEnded(left, 1);
    s.game->touchBegan(right, 1);
    s.frames(70);
    s.game->touchEnded(right, 1);
    EXPECT_EQ(t.step(), 0u);
    EXPECT_TRUE(t.rightThumb().isHighlighted());
    s.game->touchBegan(left, 1);
    s.frames(70);
    EXPECT_EQ(t.step(), 1u);
    s.game->touchEnded(left, 1);
    ASSERT_TRUE(s.until([&] { return t.step() == 2u; }, 60));

    // A drag on the left half moves for 2.5 s.
    s.game->touchBegan(glm::vec2(400.0f, 300.0f), 1);
    for (int i = 1; i <= 10; ++i) s.game->touchMoved(glm::vec2(400.0f + 20.0f * float(i), 300.0f), 1), s.frame();
    ASSERT_TRUE(s.until([&] { return t.step() == 3u; }, 200));
    s.game->touchEnded(glm::vec2(600.0f, 300.0f), 1);

    // Three swipes up on the right half jump.
    s.events.trigger(TutorialOverlay::signalJumpLessonOn);
    ASSERT_TRUE(s.until([&] { return t.step() == 4u; }, 120));
    for (int swipe = 0; swipe < 3; ++swipe) {
        s.game->touchBegan(glm::vec2(1000.0f, 200.0f), 1);
        for (int i = 1; i <= 6; ++i) s.game->touchMoved(glm::vec2(1000.0f, 200.0f + 40.0f * float(i)), 1), s.frame();
        s.game->touchEnded(glm::vec2(1000.0f, 440.0f), 1);
        s.frames(30);
    }
    EXPECT_EQ(t.jumpCount(), 3u);
    EXPECT_TRUE(s.until([&] { return t.step() == 5u; }, 60));
}

TEST_F(CutsceneTest, ControlsPopupComesOnceAt50SecondsWhileAlive) {
    Screen s(level(), "levels/level01.pxl", false);
    // 49.95 s of active time: nothing yet. Then the player dies just before the mark.
    s.frames(2998);
    EXPECT_TRUE(s.popups.empty());
    Player::Player& player = s.game->getWorld().getPlayer();
    player.kill();
    int dead = 0;
    for (; !player.isAlive() && dead < 100; ++dead) {
        s.frame();
        EXPECT_TRUE(s.popups.empty() || player.isAlive());
    }
    EXPECT_GE(dead, 3);
    ASSERT_TRUE(s.until([&] { return !s.popups.empty(); }, 5));
    EXPECT_EQ(s.popups[0].message,  // touch and swipe in use: no buttons named
              "Slide on the left half of the screen to move, and swipe up on the right half to jump.");
    // The popup holds play; its answer resumes it.
    s.frame();
    EXPECT_TRUE(s.game->isPaused());
    s.popups[0].onAffirmative();
    s.frame();
    EXPECT_FALSE(s.game->isPaused());
    s.frames(3100);
    EXPECT_EQ(s.popups.size(), 1u);

    // Cancelled by its signal, it never comes; a missing string shows the stand-in text.
    Screen cancelled(level(), "levels/level01.pxl", false);
    cancelled.events.trigger(TutorialOverlay::signalCancelButtonsHint);
    cancelled.frames(3100);
    EXPECT_TRUE(cancelled.popups.empty());
    Screen unknown(level(), "levels/level01.pxl", false, "xx_XX");
    unknown.frames(3001);
    ASSERT_EQ(unknown.popups.size(), 1u);
    EXPECT_EQ(unknown.popups[0].message, "String not found");

    // A controller (or the keyboard) in use at the mark: no reminder of touch controls.
    Screen pad(level(), "levels/level01.pxl", false);
    pad.frames(2999);
    shell_services::setControllerPresent(true);
    pad.frames(3);
    shell_services::setControllerPresent(false);
    EXPECT_TRUE(pad.popups.empty());
}

}  // namespace
