// Level01 played from a controller script in two fresh processes: the same arrival and the same
// per-frame hashes as the golden file; and every normal catalog level finished by holding right
// and jumping, in this process with the process-wide state reset before each run.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>

#include "tools/scriptedrun/ScriptedRun.h"
#include "level/LevelCatalog.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "testing/TestPaths.h"

namespace {

std::string const script = "game/tests/data/hold_right_jump.txt";

std::string slurp(std::filesystem::path const& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string runProcess(std::string const& level) {
    std::string const command = "cd " + testing_support::binaryDir().string() + " && tools/scripted_run " + level + " " +
                                (testing_support::sourceDir() / script).string();
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    EXPECT_EQ(pipe ? pclose(pipe) : -1, 0) << command;
    return out;
}

TEST(ScriptedRun, TwoProcessesMatchTheGoldenRun) {
    std::string const first = runProcess("levels/level01.pxl");
    std::string const second = runProcess("levels/level01.pxl");
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, second);
    // Regenerate with the command in tools/scriptedrun/main.cpp after a deliberate change of the
    // simulation or of level01.
    std::string const golden = slurp(testing_support::sourceDir() / "game/tests/data/level01_hold_right_jump.golden");
    EXPECT_TRUE(first == golden) << "level01 no longer plays as recorded; first lines now:\n" << first.substr(0, 200);

    // One level end in the expected window (the goal lies about 110 m away: 7 to 15 s of rolling),
    // alternative 0 with the player's coins, the level's total, no deaths and time = frames x dt.
    int arrival = -1, ends = -1, results = -1, alternative = -1, reached = -1, points = -1;
    unsigned long long coins = 0, total = 0, player = 0, deaths = 0;
    float time = 0.0f;
    ASSERT_EQ(std::sscanf(first.c_str(),
                          "arrival %d ends %d results %d alternative %d coins %llu/%llu player %llu deaths %llu time %f "
                          "check points %d/%d",
                          &arrival, &ends, &results, &alternative, &coins, &total, &player, &deaths, &time, &reached,
                          &points),
              11);
    EXPECT_EQ(std::tuple(ends, results, alternative, coins, total, deaths, reached),
              std::tuple(1, 1, 0, player, 17ull, 0ull, points));
    EXPECT_TRUE(arrival >= 7 * 60 && arrival <= 15 * 60) << arrival;
    EXPECT_NEAR(time, arrival * 1000.0f / 60.0f, 1000.0f / 60.0f);
}

TEST(ScriptedRun, HoldingRightAndJumpingFinishesEveryNormalLevel) {
    Singleton<FileSystem>::instance().mount((testing_support::binaryDir() / "pak0.pak").string());
    std::vector<scripted_run::Stretch> steps;
    std::string error;
    ASSERT_TRUE(scripted_run::parseScript(slurp(testing_support::sourceDir() / script), steps, error)) << error;
    for (uint64_t i = 0; i < LevelCatalog::count(); ++i) {
        LevelCatalog::Entry const& entry = LevelCatalog::entry(i);
        if (entry.mode != GameMode::Normal) continue;
        // The last level's closing shot adds 41 s after the run.
        scripted_run::Result const r = scripted_run::run(entry.path, steps, 90 * 60);
        EXPECT_GE(r.arrivalFrame, 0) << entry.path;
        EXPECT_EQ(std::tuple(r.levelEndSignals, r.alternative, r.levelIndex, r.checkPointsReached),
                  std::tuple(1, 0, i, r.checkPoints))
            << entry.path;
        EXPECT_GT(r.checkPoints, 0) << entry.path;
    }
    // Rolled into without a jump, a pit is a fatality; the player respawns before it and, jumping
    // from then on, finishes the level.
    scripted_run::Result const fell = scripted_run::run("levels/level02.pxl", {{600, "R"}, {1, "RJ"}}, 60 * 60);
    EXPECT_EQ(std::tuple(fell.levelEndSignals, fell.deaths), std::tuple(1, 1ull));
    // Scripts that do not read are refused with the line named.
    std::vector<scripted_run::Stretch> bad;
    EXPECT_FALSE(scripted_run::parseScript("10 R\n5 X\n", bad, error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
    EXPECT_FALSE(scripted_run::parseScript("-3 R\n", bad, error));
}

// The bonus levels of the sample data in their own modes, holding right: the popup answered,
// laps round bonus01's circuit, and bonus02's coins giving time past the ten seconds.
TEST(ScriptedRun, BonusLevelsPlayTheirModesOnTheSampleData) {
    Singleton<FileSystem>::instance().mount((testing_support::binaryDir() / "pak0.pak").string());
    std::vector<scripted_run::Stretch> const right = {{1, "R"}};
    scripted_run::Result const laps = scripted_run::run("levels/bonus01.pxl", right, 80 * 60);
    EXPECT_EQ(std::tuple(laps.popups, laps.levelEndSignals, laps.results, laps.alternative, laps.levelIndex),
              std::tuple(1, 1, 1, 2, *LevelCatalog::findByPath("levels/bonus01.pxl")));
    // The race ends past 64 s of world time; the end follows 3 s later with the world held.
    EXPECT_NEAR(laps.worldTime, 64000.0f, 2 * 1000.0f / 60.0f);
    EXPECT_GE(laps.laps, 2.0f) << scripted_run::describe(laps).substr(0, 200);

    scripted_run::Result const coins = scripted_run::run("levels/bonus02.pxl", right, 80 * 60);
    EXPECT_EQ(std::tuple(coins.popups, coins.levelEndSignals, coins.results, coins.alternative),
              std::tuple(1, 1, 1, 1));
    EXPECT_GT(coins.coins, 0u);
    // The time left is the deadline of 14 s plus a second a coin, less the world time at the end.
    EXPECT_NEAR(coins.remainingTime, 14000.0f + 1000.0f * float(coins.coins) - coins.worldTime, 2 * 1000.0f / 60.0f);
    EXPECT_GT(coins.worldTime, 14000.0f) << scripted_run::describe(coins).substr(0, 200);
}

}  // namespace
