// Recording finished levels into a real save file in a temporary folder, the services watched.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <future>

#include "menus/ResultRecording.h"
#include "save/CloudSyncThread.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"

namespace {

using N = ResultsMenu::NormalGameModeTriggerParameters;
using C = ResultsMenu::CollectTimeGameModeTriggerParameters;
using T = ResultsMenu::TimeAttackGameModeTriggerParameters;
using Ids = std::vector<uint64_t>;
using Scores = std::vector<std::pair<uint32_t, int64_t>>;

class ResultRecording : public testing::Test {
protected:
    testing_support::TempDir documents;
    Scores scores;
    std::vector<std::pair<uint64_t, double>> achievements;
    std::vector<std::tuple<std::string, int, bool, uint32_t, int64_t>> played;
    int events = 0;
    bool controller = false, platformInput = false;
    ResultRecordingServices services{
        [this](ScoreReport const* r, size_t n) { for (size_t i = 0; i < n; ++i) scores.emplace_back(r[i].leaderboard, r[i].value); },
        [this](AchievementReport const* r, size_t n) { for (size_t i = 0; i < n; ++i) achievements.emplace_back(r[i].achievement, r[i].percent); },
        [this](char const* l, int s, bool h, uint32_t d, int64_t v) { played.emplace_back(l, s, h, d, v); },
        [this](bool canPrompt) { events += canPrompt; },
        [this] { return controller; },
        [this] { return platformInput; },
    };

    void SetUp() override { setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1); }

    // A nested accessor would lock the save mutex twice and hang: fail at a deadline instead.
    GoalFlags trigger(TriggerVariant const& result, CloudSyncThread* sync = nullptr) {
        scores.clear(), achievements.clear(), played.clear(), events = 0;
        auto done = std::async(std::launch::async, [&] { return recordTrigger(result, true, sync, services); });
        if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) std::_Exit(1);
        return done.get();
    }
    Ids ids() const { Ids out; for (auto const& a : achievements) out.push_back(a.first); return out; }
    static int64_t best(uint32_t level) { return int64_t(RoamingDataFile("roamingData").data.findLevelEntry(level)->best()); }
    static void setGoals(std::vector<uint32_t> const& levels, uint8_t flags) {
        RoamingDataFile file("roamingData");
        for (auto level : levels) file.data.levelEntry(level).goalFlags() = flags;
    }
    std::string saveBytes() const { std::ifstream in(documents.path() / "roamingData"); return {std::istreambuf_iterator<char>(in), {}}; }
};

TEST_F(ResultRecording, NormalFinishesStarsBestsAndAchievements) {
    GoalFlags f = trigger(N(3, 3, 1, 200000.0f, 0));  // all coins, a death, over 170 s: first is kept
    EXPECT_EQ(f.gained * 1000000 + best(0), kGoalAllCoins * 1000000 + 200000);
    EXPECT_EQ(scores, (Scores{{0, 20000}}));
    EXPECT_EQ(ids(), Ids{0});
    EXPECT_EQ(played, (decltype(played){{"level01Name", 0, false, 1, 200000}}));
    EXPECT_EQ(events, 1);
    f = trigger(N(0, 3, 2, 250000.0f, 0));
    EXPECT_EQ(f.before * 10 + f.gained, kGoalAllCoins * 10);
    EXPECT_EQ(best(0), 200000);
    f = trigger(N(0, 0, 0, 150000.4f, 0));  // a level without coins counts as all collected
    EXPECT_EQ(f.gained * 1000000 + best(0), (kGoalNoDeaths | kGoalTargetTime) * 1000000 + 150000);
    EXPECT_EQ(ids(), (Ids{0, 1}));
    scores.clear();  // a rebuilt board records nothing
    EXPECT_EQ(recordTrigger(TriggerVariant(N(3, 3, 0, 1.0f, 0)), false, nullptr, services).gained + scores.size(), 0u);

    setGoals({5, 6, 7}, 7), setGoals({8}, 3);
    trigger(N(1, 1, 0, 1000.0f, 8));  // act 2's last missing star
    EXPECT_EQ(ids(), (Ids{12, 6, 0, 1}));
    setGoals({1, 2, 3, 5, 6, 7, 8, 10, 11, 12, 13, 15, 16, 17, 18, 20, 21, 22, 23}, 7);
    trigger(N(1, 1, 0, 1000.0f, 23));
    EXPECT_EQ(ids(), (Ids{15, 2, 3, 4, 10, 9, 0, 1}));
}

TEST_F(ResultRecording, BonusLevelsHardcoreAndCloudSync) {
    CloudSyncThread sync([](CloudSyncThread::UniqueMessage) -> boost::optional<CloudSyncError> { return boost::none; });
    sync.suspend();
    struct Case { TriggerVariant result; int64_t best; Ids ids; } const cases[] = {
        {T(2.9f, 4), -29000, {20}},  // laps compare with their fraction; more laps is lower
        {T(2.0f, 4), -29000, {}},     {T(2.5f, 4), -29000, {}},  {T(5.0f, 14), -50000, {}},
        {T(5.1f, 14), -51000, {22}},  {C(5, 9, 85000.004f, 9), -85000, {}},  // equal in hundredths
        {C(5, 9, 85010.0f, 9), -85010, {21}}, {C(5, 9, 85000.0f, 9), -85010, {}},
    };
    for (auto const& c : cases) {
        trigger(c.result);
        uint32_t const level = c.result.which() == 1 ? 9 : boost::get<T>(c.result).levelIndex;
        EXPECT_EQ(best(level), c.best) << level;
        EXPECT_EQ(ids(), c.ids) << level;
    }
    EXPECT_EQ(scores, (Scores{{9, 8500}}));

    std::string const before = saveBytes();
    trigger(ResultsMenu::HardcoreFailedGameModeTriggerParameters(5000.0f, 0, 20), &sync);
    EXPECT_EQ(achievements, (decltype(achievements){{37, 0.0}}));  // first level: 0 %, 0 levels
    EXPECT_EQ(scores, (Scores{{1338, 0}}));
    EXPECT_TRUE(played.empty() && events == 0 && saveBytes() == before);
    EXPECT_FALSE(sync.isPending(CloudSyncThread::kSyncRoamingData));
    trigger(ResultsMenu::HardcoreFailedGameModeTriggerParameters(5000.0f, 5, 0));  // a damaged count
    EXPECT_EQ(achievements.at(0).second, 0.0);

    for (float run : {3.6e6f, 4e6f, 3e6f}) trigger(ResultsMenu::HardcoreGameModeTriggerParameters(run), &sync);
    EXPECT_TRUE(sync.isPending(CloudSyncThread::kSyncRoamingData));
    EXPECT_EQ(scores, (Scores{{1337, 300000}, {1338, 20}}));
    EXPECT_EQ(achievements, (decltype(achievements){{37, 100.0}}));
    EXPECT_EQ(played, (decltype(played){{"level20Name", 0, true, 0, 3000000}}));
    EXPECT_EQ(RoamingDataFile("roamingData").data.hardcoreBestTime(), 3000000u);
}

TEST_F(ResultRecording, ControlSchemesAndDamagedValues) {
    EXPECT_EQ(controlSchemeCode(services), 0);
    RoamingDataFile("roamingData").data.setControlScheme(1);  // closing writes it
    EXPECT_EQ(controlSchemeCode(services), 1);
    platformInput = true;
    EXPECT_EQ(controlSchemeCode(services), 3);
    controller = true;
    EXPECT_EQ(controlSchemeCode(services), 2);

    EXPECT_EQ(Ids({uint64_t(roundResult(2.5)), uint64_t(roundResult(-2.5)), uint64_t(roundResult(NAN))}), Ids({3, uint64_t(-3), 0}));
    EXPECT_EQ(std::make_pair(roundResult(1e30), roundResult(-INFINITY)), std::make_pair(int64_t(INT32_MAX), int64_t(INT32_MIN)));
    for (float bad : {NAN, INFINITY, -INFINITY, 3.4e38f, -1.0f}) {
        trigger(N(1, 1, ~0ull, bad, 1));
        EXPECT_EQ(std::get<3>(played.at(0)), UINT32_MAX);
        trigger(T(bad, 4)), trigger(C(0, 0, bad, 9));
    }
    std::string const before = saveBytes();  // indices past the catalog touch nothing
    for (uint64_t level : {uint64_t(24), uint64_t(1) << 40}) {
        trigger(N(1, 1, 0, 1.0f, level)), trigger(T(1.0f, level));
        EXPECT_TRUE(scores.empty());
    }
    EXPECT_EQ(saveBytes(), before);
}

}  // namespace
