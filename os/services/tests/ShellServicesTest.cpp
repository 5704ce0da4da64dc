// Platform functions over fake adapters: the music queue's ordering, identifier tables, game
// service reports and their analytics events, and requests that find no shell.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "analytics/agent/Tally.h"
#include "os/services/Documents.h"
#include "os/services/GameCenter.h"
#include "os/services/Music.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellBridge.h"
#include "os/services/ShellServices.h"
#include "testing/TestPaths.h"

namespace {

// Records every call; lives on the music queue.
struct FakePlayer : platform::MusicPlayer {
    std::vector<std::string>* log;
    bool playing = false;
    double time = 0;
    explicit FakePlayer(std::vector<std::string>* l) : log(l) {}
    void setLooping(bool endless) override { log->push_back(endless ? "loop" : "once"); }
    void setVolume(float v) override { log->push_back("volume " + std::to_string(int(v * 100))); }
    void play() override {
        playing = true;
        log->push_back("play");
    }
    void pause() override {
        playing = false;
        log->push_back("pause");
    }
    void stop() override {
        playing = false;
        log->push_back("stop");
    }
    bool isPlaying() const override { return playing; }
    double currentTime() const override { return time; }
    void setCurrentTime(double s) override {
        time = s;
        log->push_back("seek " + std::to_string(int(s * 1000)));
    }
};

class MusicQueue : public ::testing::Test {
protected:
    std::vector<std::string> log;  // touched on the queue only, read after a runOnQueue
    void SetUp() override {
        music_services::setFileOpener([](char const* path) {
            if (std::string(path) == "missing.m4a") return music_services::Bytes{};
            static uint8_t const bytes[4] = {1, 2, 3, 4};
            return music_services::Bytes{nullptr, bytes, sizeof bytes};
        });
        music_services::setPlayerFactory([this](music_services::Bytes const&, void*) {
            return std::make_unique<FakePlayer>(&log);
        });
    }
    void TearDown() override {
        stopMusic();
        setMusicVolume(1.0f);
        music_services::runOnQueue([](platform::MusicPlayer*) {});
        music_services::setFileOpener(nullptr);
        music_services::setPlayerFactory(nullptr);
    }
    std::vector<std::string> flushed() {
        std::vector<std::string> copy;
        music_services::runOnQueue([&](platform::MusicPlayer*) { copy = log; });
        return copy;
    }
    FakePlayer* player() {
        FakePlayer* p = nullptr;
        music_services::runOnQueue([&](platform::MusicPlayer* mp) { p = static_cast<FakePlayer*>(mp); });
        return p;
    }
};

TEST_F(MusicQueue, StopAfterDeferredStartWins) {
    playMusic("menu.m4a", true, false);
    stopMusic();
    EXPECT_EQ(flushed(), (std::vector<std::string>{"loop", "volume 100", "play", "stop"}));
    EXPECT_EQ(player(), nullptr);
}

TEST_F(MusicQueue, TwoVolumeChangesInOneFrameBothApplyAndEqualValueDoesNothing) {
    playMusic("menu.m4a", false, true);
    setMusicVolume(0.5f);
    setMusicVolume(1.0f);
    setMusicVolume(1.0f);
    EXPECT_EQ(flushed(), (std::vector<std::string>{"once", "volume 100", "play", "volume 50", "volume 100"}));
    EXPECT_FLOAT_EQ(music_services::storedVolume(), 1.0f);
    // A later track starts at the stored volume.
    setMusicVolume(0.25f);
    playMusic("level.m4a", true, false);
    auto l = flushed();
    EXPECT_EQ(l.back(), "play");
    EXPECT_EQ(l[l.size() - 2], "volume 25");
}

TEST_F(MusicQueue, MissingFileLeavesNoPlayerAndLaterCallsDoNothing) {
    playMusic("missing.m4a", false, true);
    pauseMusic();
    resumeMusic();
    syncMusic(5000, 100);
    stopMusic();
    EXPECT_TRUE(flushed().empty());
}

TEST_F(MusicQueue, StartNowTakesTheStartTimeAndSyncSeeksOnlyBeyondTheTolerance) {
    int64_t const before = nowMs();
    playMusic("intro.m4a", false, true);
    EXPECT_GE(musicStartMs(), before);
    EXPECT_LE(musicStartMs(), nowMs());
    music_services::runOnQueue([](platform::MusicPlayer* p) { static_cast<FakePlayer*>(p)->time = 5.08; });
    syncMusic(5000, 100);
    EXPECT_EQ(flushed().back(), "play");
    music_services::runOnQueue([](platform::MusicPlayer* p) { static_cast<FakePlayer*>(p)->time = 5.2; });
    syncMusic(5000, 100);
    EXPECT_EQ(flushed().back(), "seek 5000");
    int64_t const now = nowMs();
    EXPECT_NEAR(double(now - musicStartMs()), 5000.0, 50.0);
    // Behind the position: the distance is not a wrapped unsigned number.
    music_services::runOnQueue([](platform::MusicPlayer* p) { static_cast<FakePlayer*>(p)->time = 4.95; });
    syncMusic(5000, 100);
    EXPECT_EQ(flushed().back(), "seek 5000");  // unchanged: 50 ms behind is within tolerance
    music_services::runOnQueue([](platform::MusicPlayer* p) { static_cast<FakePlayer*>(p)->time = 1.0; });
    syncMusic(5000, 100);
    auto l = flushed();
    EXPECT_EQ(std::count(l.begin(), l.end(), "seek 5000"), 2);
}

TEST_F(MusicQueue, CallsFromSeveralThreadsAreSerialised) {
    playMusic("menu.m4a", true, true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                setMusicVolume(float((t * 50 + i) % 7) / 10.0f);
                pauseMusic();
                resumeMusic();
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_GT(flushed().size(), 100u);
}

TEST(Identifiers, GapsAndEndsOfTheTables) {
    EXPECT_EQ(achievementId(24), "grp.zelv.cog2");
    EXPECT_EQ(achievementId(25), std::nullopt);
    EXPECT_EQ(achievementId(26), "grp.zelv.cog4");
    EXPECT_EQ(achievementId(37), "grp.zelv.hardcore");
    EXPECT_EQ(achievementId(38), std::nullopt);
    EXPECT_EQ(achievementId(uint64_t(1) << 40), std::nullopt);
    EXPECT_EQ(leaderboardId(4), "grp.zelv.bonus01");
    EXPECT_EQ(leaderboardId(23), "grp.zelv.level20");
    EXPECT_EQ(leaderboardId(24), std::nullopt);
    EXPECT_EQ(leaderboardId(1337), "grp.zelv.hardcoreleaderboardtime");
    EXPECT_EQ(leaderboardId(1338), "grp.zelv.hardcoreleaderboardlevels");
    // Every identifier is distinct: 37 achievements and 26 boards.
    std::set<std::string> ids;
    for (uint32_t i = 0; i < 2000; ++i) {
        if (auto id = achievementId(i)) ids.insert(*id);
        if (auto id = leaderboardId(i)) ids.insert(*id);
    }
    EXPECT_EQ(ids.size(), 37u + 26u);
}

struct RecordingShell : ShellBridge {
    std::vector<std::string> calls;
    void playVideo(char const* path) override { calls.push_back(std::string("video ") + path); }
    void skipVideo() override { calls.push_back("skip"); }
    void showGameCenter() override { calls.push_back("gc"); }
    void showGameCenterForLevel(std::string const& id) override { calls.push_back("gc " + id); }
    void showGameCenterLoginIfNeeded() override { calls.push_back("login"); }
    void significantEvent(bool canPrompt) override { calls.push_back(canPrompt ? "event yes" : "event no"); }
};

class GameServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        Tally::reset();
        Tally::setRecordingEvents(true);
        ShellBridge::set(&shell);
        game_center::services().setAuthenticated(true);
    }
    void TearDown() override { ShellBridge::set(nullptr); }
    RecordingShell shell;
};

TEST_F(GameServicesTest, AchievementsLogOnlyAtFullCompletionWithTheWholeIndex) {
    AchievementReport const reports[] = {{3, 99.9}, {37, 100.0}, {25, 100.0}, {uint64_t(1) << 33, 100.0}};
    reportAchievements(reports, 4);
    std::vector<std::string> names;
    for (auto const& e : Tally::events()) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"ACHIEVEMENT_37", "ACHIEVEMENT_25", "ACHIEVEMENT_8589934592"}));
    EXPECT_DOUBLE_EQ(game_center::services().achievementPercent("grp.zelv.hardcore"), 100.0);
    // A lower later report does not undo progress.
    AchievementReport const lower[] = {{37, 50.0}};
    reportAchievements(lower, 1);
    EXPECT_DOUBLE_EQ(game_center::services().achievementPercent("grp.zelv.hardcore"), 100.0);
}

TEST_F(GameServicesTest, ScoresKeepTheBestValuePerBoardInItsOwnDirection) {
    // Every kind of board, with what the results report to it: a slower and then a faster main
    // level time (hundredths), fewer and more laps (thousandths), less and more collected time,
    // a slower and a faster hardcore run, fewer and more hardcore levels.
    struct Case {
        uint32_t board;
        char const* id;
        int64_t worse, better;
    };
    Case const cases[] = {{2, "grp.zelv.level03", 12000, 9000},       {23, "grp.zelv.level20", 30000, 29999},
                          {4, "grp.zelv.bonus01", 2500, 3100},        {14, "grp.zelv.bonus03", 0, 4000},
                          {9, "grp.zelv.bonus02", 6000, 8500},        {19, "grp.zelv.bonus04", 100, 101},
                          {1337, "grp.zelv.hardcoreleaderboardtime", 90000, 80000},
                          {1338, "grp.zelv.hardcoreleaderboardlevels", 3, 12}};
    platform::GameServices& services = game_center::services();
    for (Case const& c : cases) {
        ScoreReport const worseThenBetter[] = {{c.board, c.worse}, {24, 1}, {c.board, c.better}};
        reportScores(worseThenBetter, 3);
        EXPECT_EQ(services.score(c.id), c.better) << c.id;
        ScoreReport const worseAgain[] = {{c.board, c.worse}};
        reportScores(worseAgain, 1);
        EXPECT_EQ(services.score(c.id), c.better) << c.id << " after a worse one";
    }
    // The file survives a new process.
    platform::GameServices reread(std::string(documentsPath()) + "gameservices", true);
    EXPECT_EQ(reread.score("grp.zelv.level03"), 9000);
    EXPECT_EQ(reread.score("grp.zelv.bonus01"), 3100);
}

TEST_F(GameServicesTest, PresentingWhileSignedOutAnswersFalseAtOnce) {
    game_center::services().setAuthenticated(false);
    int answers = 0;
    bool value = true;
    presentGameCenter([&](bool v) {
        ++answers;
        value = v;
    });
    EXPECT_EQ(answers, 1);
    EXPECT_FALSE(value);
    EXPECT_FALSE(game_center::closeCallback());
    EXPECT_TRUE(shell.calls.empty());

    game_center::services().setAuthenticated(true);
    presentGameCenterForLevel([&](bool v) { ++answers; }, 2);
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"gc grp.zelv.level03"}));
    EXPECT_EQ(answers, 1);
    ASSERT_TRUE(game_center::closeCallback());
}

TEST_F(GameServicesTest, AnalyticsEventsAndShellRequests) {
    logEvent("TUTORIAL_YES");
    logEvent("SKIPPED_\xc3\xa9");
    logLevelPlayed("levels/level01.pxl", 7, true, 3, int64_t(1) << 40);
    auto events = Tally::events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].name, "SKIPPED_??");
    EXPECT_EQ(events[2].name, "LEVELPLAYED");
    auto const& p = events[2].parameters;
    EXPECT_EQ(std::get<std::string>(p.at("controlScheme")), "unknown");
    EXPECT_EQ(std::get<bool>(p.at("hardcore")), true);
    EXPECT_EQ(std::get<uint64_t>(p.at("deaths")), 3u);
    EXPECT_EQ(std::get<int64_t>(p.at("score")), int64_t(1) << 40);
    logLevelPlayed("x", 2, false, 0, 0);
    EXPECT_EQ(std::get<std::string>(Tally::events().back().parameters.at("controlScheme")), "gamepad");

    significantEvent(true);
    presentGameCenterLogin();
    int done = 0;
    playVideo("videos/intro.mp4", [&] { ++done; });
    skipVideo();
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"event yes", "login", "video videos/intro.mp4", "skip"}));
    EXPECT_EQ(done, 0);
    ASSERT_TRUE(shell_services::videoDoneCallback());
    shell_services::videoDoneCallback() = nullptr;

    // Without a shell the video is over at once.
    ShellBridge::set(nullptr);
    playVideo("videos/intro.mp4", [&] { ++done; });
    EXPECT_EQ(done, 1);
}

}  // namespace

// The documents folder is private to this test run.
static testing_support::TempDir documents;
static bool const documentsSet = [] {
    setDocumentsPath(documents.path().string());
    return true;
}();
