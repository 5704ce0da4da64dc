// Cut-scenes inside the game screen: the ways to skip and where they lead, the closing fade and
// the music kept in step with the world, subtitles by line count, and the credits.
#include <fstream>

#include "game/IntroGameModeStateMachine.h"
#include "game/tests/CutsceneFixture.h"

namespace {

using namespace cutscene_test;
using Intro = IntroGameModeStateMachine;

PristineLevel::Data cutscene(std::string const& soundtrack, float lengthMs, float creditsMs = 0.0f) {
    PristineLevel::Data d = flatLevel();
    d.metaData.mode = GameMode::Intro;
    d.metaData.introSoundtrack = soundtrack;
    d.metaData.introEndTime = lengthMs;
    d.metaData.introCueTime = creditsMs;
    return d;
}

Intro& introOf(Screen& s) { return dynamic_cast<Intro&>(s.game->modeMachine()); }

// The middle of the skip button's touch area.
glm::vec2 skipPoint(Intro& intro) {
    Rect const& r = intro.skipButton().hitRect();
    return glm::vec2(r.minX + r.maxX, r.minY + r.maxY) * 0.5f;
}

// Frames until the fade is complete; how many it took.
int framesToFinish(Screen& s, Intro& intro) {
    int n = 0;
    while (intro.state() == Intro::kFading && n < 1000) s.frame(), ++n;
    return n;
}

TEST_F(CutsceneTest, SkipFadesQuicklyAndStartsTheIntroducedLevelOnce) {
    Screen s(cutscene("music/intro", 12000.0f), "levels/level01_intro.pxl", false);
    Intro& intro = introOf(s);
    EXPECT_EQ(log, std::vector<std::string>{"PLAYED_CUTSCENE_WITH_PATH: levels/level01_intro.pxl"});
    EXPECT_EQ(intro.musicPath(), "music/intro.m4a");
    EXPECT_EQ(intro.skipVisibility(), 1.0f);
    s.frame();
    // Hidden HUD, muted level sounds and no pause, from the first frame.
    EXPECT_TRUE(s.game->hud().isHidden());
    EXPECT_EQ(s.audio.context.categoryVolume(0), 0.0f);
    s.tap(s.game->hud().pauseButtonCentre());
    s.game->buttonPressed(GameViewController::pauseButtonCode);  // state 1: not the mode's
    s.frame();
    ASSERT_EQ(intro.state(), Intro::kPlaying);
    EXPECT_TRUE(s.pauses.empty());

    clock = 1000;
    s.frames(30);
    EXPECT_NEAR(intro.skipAlpha(), 0.5f, 0.01f);
    s.tap(skipPoint(intro));
    EXPECT_EQ(log.back(), "SKIPPED_INTRO");
    EXPECT_EQ(intro.state(), Intro::kFading);
    EXPECT_EQ(intro.fadeSpeed(), Intro::skipFadeRate);
    // 400 ms of fade, then the frame that finishes.
    int const n = framesToFinish(s, intro);
    EXPECT_GE(n, 24);
    EXPECT_LE(n, 26);
    EXPECT_EQ(intro.state(), Intro::kFinished);
    EXPECT_EQ(s.started, std::vector<std::string>{"levels/level01.pxl level01Name"});
    EXPECT_TRUE(s.mainMenus.empty());
    EXPECT_EQ(s.audio.context.categoryVolume(0), 1.0f);
    EXPECT_EQ(s.audio.context.musicVolume(), 0.0f);

    // A late tap or a second finish starts nothing more.
    s.tap(skipPoint(intro));
    s.frames(10);
    intro.finish();
    EXPECT_EQ(s.started.size(), 1u);
    EXPECT_EQ(std::count(log.begin(), log.end(), "SKIPPED_INTRO"), 1);
    EXPECT_TRUE(s.pauses.empty());

    // With a controller the button is invisible; A and the pause code skip while playing.
    shell_services::setControllerPresent(true);
    for (bool byA : {true, false}) {
        log.clear();
        Screen c(cutscene("music/intro", 12000.0f), "levels/level03_intro.pxl", true);
        Intro& ci = introOf(c);
        EXPECT_EQ(ci.skipVisibility(), 0.0f);
        c.frames(2);
        ASSERT_EQ(ci.state(), Intro::kPlaying);
        if (byA) {
            GamepadState a;
            a.buttonA = 1;
            c.game->gamepadInput(a);
        } else {
            c.game->buttonPressed(GameViewController::pauseButtonCode);
        }
        EXPECT_EQ(log.back(), "SKIPPED_INTRO");
        framesToFinish(c, ci);
        EXPECT_EQ(c.started, std::vector<std::string>{"levels/level03.pxl level03Name skip"});
        EXPECT_TRUE(c.pauses.empty());
    }
}

TEST_F(CutsceneTest, ClosingFadeFollowsTheMusicAndLeadsToTheMainMenu) {
    // No record names it as its intro.
    Screen s(cutscene("music/intro", 12000.0f), "levels/intro.pxl");
    Intro& intro = introOf(s);
    s.frames(3);
    clock = 9999;
    s.frame();
    EXPECT_EQ(intro.state(), Intro::kPlaying);
    // Every playing frame asks the music to stay within 100 ms of the world time (the music
    // service moves it only beyond that).
    ASSERT_EQ(syncs.size(), 2u);
    for (auto const& [position, tolerance] : syncs) EXPECT_EQ(tolerance, 100u);
    EXPECT_NEAR(double(syncs.back().first), s.game->getWorld().getTime() - Screen::frameMs, 1.0);
    clock = 10000;  // length - 2000
    s.frame();
    EXPECT_EQ(intro.state(), Intro::kFading);
    EXPECT_EQ(intro.fadeSpeed(), Intro::fadeRate);
    size_t const synced = syncs.size();
    float volume = 1.0f;
    int n = 0;
    while (intro.state() == Intro::kFading && n < 1000) {
        s.frame(), ++n;
        EXPECT_LE(s.audio.context.musicVolume(), volume);
        volume = s.audio.context.musicVolume();
    }
    // About 1333 ms.
    EXPECT_GE(n, 79);
    EXPECT_LE(n, 82);
    EXPECT_EQ(syncs.size(), synced);
    ASSERT_EQ(s.mainMenus.size(), 1u);
    EXPECT_FALSE(s.mainMenus[0]);
    EXPECT_TRUE(s.started.empty());
}

void writeFile(std::filesystem::path const& path, std::string const& text) { std::ofstream(path) << text; }

TEST_F(CutsceneTest, SubtitlesAreLaidOutByLineCountAndOnlyWhenWanted) {
    testing_support::TempDir dir;
    std::string const locale = preferredLocale();
    writeFile(dir / ("cut_" + locale + ".srt"),
              "1\n00:00:01,000 --> 00:00:02,000\nOne line\n\n"
              "2\n00:00:03,000 --> 00:00:04,000\nTwo\nlines\n\n"
              "3\n00:00:05,000 --> 00:00:06,000\nThree\nlines\nhere\n");
    writeFile(dir / ("empty_" + locale + ".srt"), "");
    Screen s(cutscene((dir / "cut").string(), 12000.0f), "levels/intro.pxl");
    Intro& intro = introOf(s);
    ASSERT_TRUE(intro.hasSubtitles());
    Fonts::Font const font = s.fonts->font("subtitles");
    ASSERT_NE(font.font, nullptr);
    float const p = font.font->lineHeight * font.font->lineSpacing;
    ASSERT_GT(p, 0.0f);
    s.frames(2);

    clock = 1500;
    s.frame();
    EXPECT_EQ(intro.subtitleLineCount(), 1u);
    EXPECT_EQ(intro.subtitleOrigins(), std::vector<glm::vec2>{glm::vec2(640.0f, 75.0f - 0.5f * p)});
    EXPECT_EQ(intro.subtitleAlpha(), 1.0f);
    EXPECT_FALSE(intro.subtitleMesh().empty());
    EXPECT_GT(intro.subtitleBoxScale(), 0.0f);
    // Between entries the box fades out over 500 ms.
    clock = 2500;
    s.frames(15);
    EXPECT_NEAR(intro.subtitleAlpha(), 0.5f, 0.01f);
    EXPECT_TRUE(intro.subtitleMesh().empty());
    s.frames(15);
    EXPECT_EQ(intro.subtitleAlpha(), 0.0f);
    // Back at full opacity at once.
    clock = 3500;
    s.frame();
    EXPECT_EQ(intro.subtitleAlpha(), 1.0f);
    EXPECT_EQ(intro.subtitleOrigins(), (std::vector<glm::vec2>{{640.0f, 75.0f}, {640.0f, 75.0f - p}}));
    clock = 5500;
    s.frame();
    EXPECT_EQ(intro.subtitleLineCount(), 3u);
    EXPECT_EQ(intro.subtitleOrigins(),
              (std::vector<glm::vec2>{{640.0f, 75.0f}, {640.0f, 75.0f - p}, {640.0f, 75.0f - 2.0f * p}}));

    // A missing or empty file shows nothing; with the option off none is read.
    for (std::string const name : {"missing", "empty", "cut"}) {
        setSubtitles(name != "cut");
        Screen other(cutscene((dir / name).string(), 12000.0f), "levels/intro.pxl");
        Intro& o = introOf(other);
        EXPECT_EQ(o.hasSubtitles(), name != "cut");
        other.frames(2);
        for (int64_t t : {1500, 3500, 5500}) {
            clock = t;
            other.frame();
            EXPECT_EQ(o.subtitleAlpha(), 0.0f) << name;
            EXPECT_TRUE(o.subtitleMesh().empty()) << name;
        }
    }
}

struct FakeCredits : CutsceneCredits {
    std::function<void()> onEnd;
    bool idle = true;
    int starts = 0, updates = 0;
    bool isIdle() const override { return idle; }
    void start() override { ++starts, idle = false; }
    void update(float) override { ++updates; }
    void draw(Graphics::Context*, Graphics::StandardShader*, glm::mat4 const&) override {}
};

TEST_F(CutsceneTest, CreditsRunFromTheirStartAndLeadToTheFade) {
    FakeCredits* credits = nullptr;
    uint32_t framesPerStep = 0;
    float step = 0.0f;
    cutsceneServices().makeCredits = [&](Graphics::Context*, Audio::Context*, Fonts::Context*,
                                         std::function<void()> const& onEnd, glm::vec4 const&, uint32_t frames,
                                         float by) -> std::unique_ptr<CutsceneCredits> {
        auto c = std::make_unique<FakeCredits>();
        c->onEnd = onEnd;
        credits = c.get();
        framesPerStep = frames, step = by;
        return c;
    };
    Screen s(cutscene("music/end", 12000.0f, 3000.0f), "levels/end.pxl");
    Intro& intro = introOf(s);
    ASSERT_NE(credits, nullptr);
    EXPECT_EQ(framesPerStep, 2u);
    EXPECT_EQ(step, 1.0f);
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
    EXPECT_EQ(intro.state(), Intro::kPlaying);
    EXPECT_EQ(credits->starts, 1);
    EXPECT_EQ(credits->updates, 14);
    credits->idle = true;
    credits->onEnd();
    EXPECT_EQ(intro.state(), Intro::kFading);
    framesToFinish(s, intro);
    EXPECT_EQ(s.mainMenus.size(), 1u);

    // The real credits scroll out well after the length and then close the scene.
    cutsceneServices().makeCredits = CutsceneServices::platform().makeCredits;
    Screen rolled(cutscene("music/end", 12000.0f, 3000.0f), "levels/end.pxl");
    Intro& r = introOf(rolled);
    ASSERT_TRUE(r.hasCredits());
    rolled.frames(2);
    clock = 3001;
    int frames = 0;
    while (r.state() == Intro::kPlaying && frames < 100000) rolled.frame(), ++frames, clock += 16;
    EXPECT_EQ(r.state(), Intro::kFading);
    EXPECT_GT(clock, 12000);
    framesToFinish(rolled, r);
    EXPECT_EQ(rolled.mainMenus.size(), 1u);

    // Without a credits widget the scene closes on its length.
    cutsceneServices().makeCredits = nullptr;
    Screen plain(cutscene("music/end", 12000.0f, 3000.0f), "levels/end.pxl");
    Intro& p = introOf(plain);
    EXPECT_FALSE(p.hasCredits());
    plain.frames(2);
    clock = 10000;
    plain.frame();
    EXPECT_EQ(p.state(), Intro::kFading);
}

}  // namespace
