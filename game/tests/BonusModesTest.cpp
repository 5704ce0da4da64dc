// The two bonus games against the clock through the game screen on a builder level, with 16 ms
// frames (so world times are exact), real fonts, post-processing and sound, and recording music
// and popups. The player is moved round the lap path and onto coins and the goal by hand.
#include <gtest/gtest.h>

#include <mutex>
#include <type_traits>

#include "game/BonusModeParts.h"
#include "game/CollectTimeGameModeStateMachine.h"
#include "game/GameViewController.h"
#include "game/TimeAttackGameModeStateMachine.h"
#include "graphics/PostProcessingStep.h"
#include "level/LevelCatalog.h"
#include "menus/tests/MenuFixture.h"
#include "os/services/Music.h"
#include "tools/datatool/LevelBuilder.h"

namespace {

// The modes name their fonts by style, never by a string that could be misspelt into font 0.
static_assert(!std::is_invocable_v<decltype(&bonus_mode::font), Fonts::Context*, char const*>);
static_assert(std::is_invocable_v<decltype(&bonus_mode::font), Fonts::Context*, Fonts::FontStyle>);

using PristineLevel::PathNode;

// What the music queue asks of its players, in order.
struct MusicLog {
    std::mutex mutex;
    std::vector<std::string> lines;
    void add(std::string line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(std::move(line));
    }
    std::vector<std::string> read() {
        music_services::runOnQueue([](platform::MusicPlayer*) {});
        std::lock_guard<std::mutex> lock(mutex);
        return lines;
    }
};

struct RecordingPlayer : platform::MusicPlayer {
    MusicLog* log;
    bool playing = false;
    explicit RecordingPlayer(MusicLog* log) : log(log) {}
    void setLooping(bool) override {}
    void setVolume(float) override {}
    void play() override { playing = true, log->add("play"); }
    void pause() override { playing = false, log->add("pause"); }
    void stop() override { playing = false, log->add("stop"); }
    bool isPlaying() const override { return playing; }
    double currentTime() const override { return 0.0; }
    void setCurrentTime(double) override {}
};

// Flat ground, the start at the origin, and a closed lap path: along the ground to (20, 0.4),
// up to (10, 8) and back down to the start. A goal far off for collect time.
PristineLevel::Data bonusLevel(GameMode mode, std::vector<glm::vec2> const& coins = {}) {
    levels::LevelBuilder b;
    b.data().metaData.mode = mode;
    b.ground({{-50.0f, 0.0f}, {50.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
    b.checkPoint({0.0f, 0.4f});
    for (glm::vec2 c : coins) b.coin(c);
    b.goal({40.0f, 1.0f}, {1.0f, 2.0f});
    std::vector<glm::vec2> const corners = {{0.0f, 0.4f}, {20.0f, 0.4f}, {10.0f, 8.0f}, {0.0f, 0.4f}};
    float distance = 0.0f;
    for (size_t i = 0; i < corners.size(); ++i) {
        glm::vec2 const in = i > 0 ? (corners[i - 1] - corners[i]) / 3.0f : glm::vec2(0.0f);
        glm::vec2 const out = i + 1 < corners.size() ? (corners[i + 1] - corners[i]) / 3.0f : glm::vec2(0.0f);
        if (i > 0) distance += glm::length(corners[i] - corners[i - 1]);
        b.data().progressPath.push_back(PathNode{corners[i], in, out, distance});
    }
    return b.data();
}

class BonusModes : public menus_test::MenuFixture {
protected:
    void SetUp() override {
        MenuFixture::SetUp();
        setenv("ZELV_DOCUMENTS_DIR", documents.path().c_str(), 1);
        post = std::make_unique<PostProcessingStep>(graphics.get(), glm::ivec2(menus_test::kWidth, menus_test::kHeight),
                                                    glm::ivec2(menus_test::kWidth, menus_test::kHeight), true);
        music_services::setFileOpener([](char const*) {
            static uint8_t const bytes[4] = {1, 2, 3, 4};
            return music_services::Bytes{nullptr, bytes, sizeof bytes};
        });
        music_services::setPlayerFactory(
            [this](music_services::Bytes const&, void*) { return std::make_unique<RecordingPlayer>(&music); });
    }
    void TearDown() override {
        game.reset();
        stopMusic();
        music_services::runOnQueue([](platform::MusicPlayer*) {});
        music_services::setFileOpener(nullptr);
        music_services::setPlayerFactory(nullptr);
        MenuFixture::TearDown();
    }

    // The game screen of a catalog bonus level, headless apart from its mode's text.
    void start(PristineLevel::Data level, std::string const& path, bool restarted) {
        game.reset();
        slots.clear();
        results.clear();
        game = std::make_unique<GameViewController>(
            nullptr, audio, fonts.get(), &events, path, "name", post.get(),
            [this](TriggerVariant const& r, std::string const&, std::string const&) { results.push_back(r); },
            [this](std::string const& p, std::string const&) { pauses.push_back(p); },
            [this](ConfirmationBox::Parameters const& p) { popups.emplace_back(p.message, p.onAffirmative); },
            restarted, [](std::string const&, std::string const&, bool, bool, bool) {}, std::move(level), true,
            [](boost::optional<std::string> const&) {}, false);
        slots.emplace_back(&events, 20000000u, [this] { ++ends; });
    }
    // One app-frame tick: the signals, then the screen.
    void frame(float dt = 16.0f) {
        events.dispatch();
        now += dt;
        game->update(*audio, dt, now);
    }
    template <class Done>
    bool until(Done&& done, int limit = 10000) {
        for (int i = 0; i < limit && !done(); ++i) frame();
        return done();
    }
    float t() { return game->getWorld().getTime(); }
    Player::Player& player() { return game->getWorld().getPlayer(); }
    // Puts the player at each point for one frame.
    void visit(std::vector<glm::vec2> const& points) {
        for (glm::vec2 p : points) player().resetTo(p), frame();
    }
    bool pauseSwallowed() {
        size_t const before = pauses.size();
        game->buttonPressed(GameViewController::pauseButtonCode);
        return pauses.size() == before;
    }
    // A tap on the on-screen pause, which answers touches whether or not it is drawn.
    bool tapSwallowed() {
        size_t const before = pauses.size();
        Rect const r = game->pauseButtonRect();
        glm::vec2 const centre((r.minX + r.maxX) / 2, (r.minY + r.maxY) / 2);
        game->touchBegan(centre, 1);
        game->touchEnded(centre, 1);
        return pauses.size() == before;
    }
    // 20000002 then 20000003, each followed by a frame: the countdown sound, if given, stops and
    // starts again.
    void holdAndResume(Sound const* countdown = nullptr) {
        bool const check = countdown != nullptr && sound.hasDevice();
        events.trigger(20000002);
        frame();
        if (check) {
            EXPECT_FALSE(countdown->isPlaying());
        }
        events.trigger(20000003);
        frame();
        if (check) {
            EXPECT_TRUE(countdown->isPlaying());
        }
    }

    testing_support::TempDir documents;
    std::unique_ptr<PostProcessingStep> post;
    MusicLog music;
    EventHandler events;
    std::vector<SlotCallbackRef> slots;
    std::unique_ptr<GameViewController> game;
    std::vector<TriggerVariant> results;
    std::vector<std::string> pauses;
    std::vector<std::pair<std::string, std::function<void()>>> popups;
    int ends = 0;
    float now = 1000.0f;
};

// Round the lap path, ending a little way along its first stretch.
std::vector<glm::vec2> const lap = {{10.0f, 0.4f}, {15.0f, 4.2f}, {5.0f, 4.2f}, {3.0f, 0.4f}};

TEST_F(BonusModes, TimeAttackRunsPopupCountdownRaceAndPhotoFinish) {
    using M = TimeAttackGameModeStateMachine;
    start(bonusLevel(GameMode::TimeAttack), "levels/bonus01.pxl", false);
    auto& mode = dynamic_cast<M&>(game->modeMachine());

    // The world is frozen under the popup, which waits a second of frame time; the pause button
    // is swallowed.
    frame();
    frame();
    float const frozenAt = t();
    ASSERT_TRUE(until([&] { return mode.state() == M::kPopupShown; }, 100));
    EXPECT_GT(game->pausedTime(), 1000.0f);
    EXPECT_EQ(t(), frozenAt);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].first, fonts->localizedString("bonusATutorial"));
    EXPECT_TRUE(pauseSwallowed());

    // Answered: a second later play resumes and the countdown runs in full in world time.
    popups[0].second();
    ASSERT_TRUE(until([&] { return mode.state() == M::kCountdown; }, 100));
    EXPECT_FALSE(game->isPaused());
    // A lap rolled while the input is blocked does not count.
    visit(lap);
    EXPECT_EQ(player().getLapCount(), 1u);
    EXPECT_FALSE(pauseSwallowed());
    holdAndResume(&mode.countdownSound());
    std::vector<std::string> shown;
    until([&] {
        if (shown.empty() || shown.back() != mode.centreText()) shown.push_back(mode.centreText());
        return mode.state() == M::kRace;
    });
    EXPECT_EQ(shown, (std::vector<std::string>{"3", "2", "1", "GO!"}));
    EXPECT_EQ(player().getLapCount(), 0u);
    EXPECT_LT(player().getLapFraction(), 0.1f);

    // The race: a lap and a bit, the music held and resumed with play.
    frame();
    EXPECT_EQ(mode.centreText(), "60");
    visit(lap);
    visit({glm::vec2(10.0f, 0.4f)});
    EXPECT_FALSE(pauseSwallowed());
    holdAndResume();
    EXPECT_EQ(music.read(), (std::vector<std::string>{"play", "pause", "play"}));

    // At 64000 ms the race still runs; the photo-finish comes with the first later update.
    ASSERT_TRUE(until([&] { return t() >= 64000.0f; }));
    ASSERT_EQ(t(), 64000.0f);
    frame();
    EXPECT_EQ(mode.state(), M::kRace);
    EXPECT_EQ(mode.centreText(), "0");
    EXPECT_FALSE(post->isCaptureRequested());
    frame();
    EXPECT_EQ(mode.state(), M::kFinished);
    EXPECT_TRUE(post->isCaptureRequested());
    EXPECT_EQ(music.read().back(), "stop");
    EXPECT_TRUE(pauseSwallowed());

    // The level ends once more than 3000 ms of frame time have passed, with count + fraction.
    // 188 frames reach 3008 ms; the next update raises the end, and the frame after delivers it.
    int frames = 0;
    for (; ends == 0 && frames < 300; ++frames) frame();
    EXPECT_EQ(frames, 190);
    ASSERT_EQ(results.size(), 1u);
    auto const& r = boost::get<ResultsMenu::TimeAttackGameModeTriggerParameters>(results[0]);
    EXPECT_EQ(r.levelIndex, *LevelCatalog::findByPath("levels/bonus01.pxl"));
    EXPECT_EQ(player().getLapCount(), 1u);
    EXPECT_GT(player().getLapFraction(), 0.1f);
    EXPECT_FLOAT_EQ(r.laps, 1.0f + player().getLapFraction());
}

// Every way of pausing asks the mode: after the photo-finish neither the pause button, a tap on the
// on-screen pause nor the screen's own pause entry (the window losing its focus) pauses, and the
// level ends as it should. A closing shot waits while play is held instead of ending the level.
TEST_F(BonusModes, EveryPausePathAsksTheModeAndNothingEndsTheLevelWhilePlayIsHeld) {
    using M = TimeAttackGameModeStateMachine;
    start(bonusLevel(GameMode::TimeAttack), "levels/bonus01.pxl", true);
    auto& mode = dynamic_cast<M&>(game->modeMachine());
    ASSERT_TRUE(until([&] { return mode.state() == M::kCountdown; }));
    EXPECT_FALSE(pauseSwallowed());
    EXPECT_FALSE(tapSwallowed());
    ASSERT_TRUE(until([&] { return mode.state() == M::kFinished; }));
    size_t const pausesBefore = pauses.size();
    EXPECT_TRUE(pauseSwallowed());
    EXPECT_TRUE(tapSwallowed());
    game->pause();
    EXPECT_EQ(pauses.size(), pausesBefore);
    ASSERT_TRUE(until([&] { return ends > 0; }, 300));
    EXPECT_EQ(results.size(), 1u);

    // The closing shot of a normal level ends it 41.1 s of play after its start; held for longer,
    // it waits, and ends once play goes on.
    start(bonusLevel(GameMode::Normal), "levels/test.pxl", true);
    ends = 0;
    frame();
    events.trigger(20000014);
    frame();
    uint32_t const shot = game->getWorld().getCamera().sequenceState();
    EXPECT_EQ(shot, 2u);
    events.trigger(20000002);
    for (int i = 0; i < 3000; ++i) frame();  // 48 s
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(game->getWorld().getCamera().sequenceState(), shot);
    events.trigger(20000003);
    ASSERT_TRUE(until([&] { return ends > 0; }, 3000));
    EXPECT_EQ(results.size(), 1u);
}

TEST_F(BonusModes, ARestartSkipsThePopupAndStartsTheCountdownOnTheFirstTimedFrame) {
    for (GameMode m : {GameMode::TimeAttack, GameMode::CollectTime}) {
        start(bonusLevel(m), "levels/test.pxl", true);
        auto const* attack = dynamic_cast<TimeAttackGameModeStateMachine*>(&game->modeMachine());
        auto const* collect = dynamic_cast<CollectTimeGameModeStateMachine*>(&game->modeMachine());
        auto state = [&] { return attack ? attack->state() : collect->state(); };
        frame(0.0f);
        frame(0.0f);
        EXPECT_EQ(state(), 4u);
        frame();
        EXPECT_EQ(state(), 5u);
        if (sound.hasDevice()) {
            EXPECT_TRUE(attack ? attack->countdownSound().isPlaying() : collect->countdownSound().isPlaying());
        }
        EXPECT_TRUE(popups.empty() && !game->isPaused() && game->pausedTime() == 0.0f);
    }
}

TEST_F(BonusModes, CollectTimeCountsCoinsToTheDeadlineAndTheGoalKeepsTheTimeLeft) {
    using M = CollectTimeGameModeStateMachine;
    // Two coins on one spot, taken in one frame. Restarted, so no popup.
    start(bonusLevel(GameMode::CollectTime, {{8.0f, 0.6f}, {8.0f, 0.6f}}), "levels/bonus02.pxl", true);
    auto& mode = dynamic_cast<M&>(game->modeMachine());

    // Ten seconds of play without coins: "10" at 4000 ms; two coins add two seconds, one pop.
    ASSERT_TRUE(until([&] { return mode.state() == M::kCollecting; }));
    frame();
    EXPECT_EQ(mode.centreText(), "10");
    ASSERT_TRUE(until([&] { return t() >= 6000.0f; }));
    int pops = 0;
    player().resetTo({8.0f, 0.6f});
    for (int i = 0; i < 30; ++i) {
        frame();
        if (mode.textScale() == 1.5f) ++pops;
    }
    EXPECT_EQ(player().getCoinCount(), 2u);
    EXPECT_EQ(pops, 1);

    // At the deadline, 16000 ms, the text reads 0 and play goes on; just past it the level ends
    // with no time left.
    ASSERT_TRUE(until([&] { return t() >= 16000.0f; }));
    ASSERT_EQ(t(), 16000.0f);
    frame();
    EXPECT_EQ(mode.state(), M::kCollecting);
    EXPECT_EQ(mode.centreText(), "0");
    frame();
    EXPECT_EQ(mode.state(), M::kFinished);
    EXPECT_TRUE(pauseSwallowed());
    frame();
    ASSERT_EQ(results.size(), 1u);
    auto const& r = boost::get<ResultsMenu::CollectTimeGameModeTriggerParameters>(results[0]);
    EXPECT_EQ(r.coinsCollected, 2u);
    EXPECT_EQ(r.coinTotal, 2u);
    EXPECT_EQ(r.remainingTime, 0.0f);
    EXPECT_EQ(r.levelIndex, *LevelCatalog::findByPath("levels/bonus02.pxl"));
    EXPECT_TRUE(music.read().empty());  // this mode plays no music

    // The goal reached with 3.5 s left.
    start(bonusLevel(GameMode::CollectTime), "levels/bonus02.pxl", true);
    ASSERT_TRUE(until([&] { return t() >= 14000.0f - 3500.0f; }));
    player().resetTo({40.0f, 1.0f});
    ASSERT_TRUE(until([&] { return !results.empty(); }, 10));
    EXPECT_NEAR(boost::get<ResultsMenu::CollectTimeGameModeTriggerParameters>(results[0]).remainingTime, 3500.0f,
                3 * 16.0f);
}

}  // namespace
