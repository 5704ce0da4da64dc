#include "menus/ResultRecording.h"

#include <cmath>
#include <limits>
#include <vector>

#include "level/LevelCatalog.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"
#include "save/CloudSyncThread.h"
#include "save/RoamingDataFile.h"

namespace {

char const kSaveName[] = "roamingData";
constexpr uint32_t kHardcoreTimeBoard = 1337;
constexpr uint32_t kHardcoreLevelsBoard = 1338;
constexpr uint64_t kHardcoreAchievement = 37;

RoamingData::LevelEntry const* findEntry(RoamingData const& data, uint64_t level) {
    if (level > std::numeric_limits<uint32_t>::max())
        return nullptr;
    auto it = data.findLevelEntry(uint32_t(level));
    return it != data.levelEntries().end() && it->levelId() == level ? &*it : nullptr;
}

bool inCatalog(uint64_t level) { return level < LevelCatalog::count(); }

// Best values are stored unsigned but compared signed; 0 means none.
bool replacesBest(uint64_t stored, int64_t value) { return stored == 0 || int64_t(stored) > value; }

uint32_t saturate32(uint64_t n) { return n > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max() : uint32_t(n); }

// Step 6 of the record: what the stored stars now justify, in report order.
void starAchievements(RoamingData const& data, uint64_t level, std::vector<uint64_t>& out) {
    char const act = LevelCatalog::entry(level).act;
    bool actDone = true, anyGoal = false, anyPerfect = false;
    uint8_t allMain = data.levelEntries().empty() ? 0 : 7;
    bool allMainStopped = false;
    for (uint64_t i = 0; i < LevelCatalog::count(); ++i) {
        auto const& record = LevelCatalog::entry(i);
        auto const* entry = findEntry(data, i);
        if (record.mode == GameMode::Normal) {
            if (record.act == act && (!entry || (entry->goalFlags() & 7) != 7))
                actDone = false;
            if (!allMainStopped) {
                if (!entry) {
                    allMain = 0;
                    allMainStopped = true;
                } else {
                    allMain &= entry->goalFlags();
                }
            }
        }
        if (entry && !anyPerfect) {
            anyGoal |= entry->goalCount() > 0;
            anyPerfect = entry->goalCount() == 3;
        }
    }
    if (allMain & 1)
        out.push_back(2);
    if (allMain & 2)
        out.push_back(3);
    if (allMain & 4) {
        out.push_back(4);
        if ((allMain & 3) == 3)
            out.push_back(10);
    }
    if (actDone) {
        switch (act) {
        case '2': out.push_back(6); break;
        case '3': out.push_back(7); break;
        case '4': out.push_back(8); break;
        case '5': out.push_back(9); break;
        default: out.push_back(5); break;
        }
    }
    if (anyGoal)
        out.push_back(0);
    if (anyPerfect)
        out.push_back(1);
}

void reportAll(ResultRecordingServices const& services, std::vector<uint64_t> const& achievements) {
    if (achievements.empty())
        return;
    std::vector<AchievementReport> reports;
    for (uint64_t a : achievements)
        reports.push_back({a, 100.0});
    services.reportAchievements(reports.data(), reports.size());
}

// Creates the level's entry on its first finish; the stars are the normal trigger's.
void touchEntry(uint64_t level) {
    if (!inCatalog(level))
        return;
    RoamingDataFile file(kSaveName);
    file.data.levelEntry(uint32_t(level));
}

void logPlayed(ResultRecordingServices const& services, uint64_t level, bool hardcore, uint64_t deaths,
               int64_t value) {
    services.significantEvent(true);
    int const code = controlSchemeCode(services);
    services.logLevelPlayed(LevelCatalog::entry(level).nameKey.c_str(), code, hardcore, saturate32(deaths), value);
}

}  // namespace

ResultRecordingServices const& ResultRecordingServices::platform() {
    static ResultRecordingServices const services{
        [](ScoreReport const* r, size_t n) { ::reportScores(r, n); },
        [](AchievementReport const* r, size_t n) { ::reportAchievements(r, n); },
        [](char const* level, int scheme, bool hardcore, uint32_t deaths, int64_t score) {
            ::logLevelPlayed(level, scheme, hardcore, deaths, score);
        },
        [](bool canPrompt) { ::significantEvent(canPrompt); },
        [] { return ::isControllerPresent(); },
        [] { return ::hasPlatformInput(); },
    };
    return services;
}

int64_t roundResult(double x) {
    if (std::isnan(x))
        return 0;
    constexpr double lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
    double const r = std::round(x);
    return int64_t(r < lo ? lo : r > hi ? hi : r);
}

GoalFlags recordGoalFlags(ResultsMenu::NormalGameModeTriggerParameters const& result, ResultRecordingServices const&) {
    GoalFlags flags;
    if (!inCatalog(result.levelIndex))
        return flags;
    RoamingDataFile file(kSaveName);
    auto& entry = file.data.levelEntry(uint32_t(result.levelIndex));
    flags.before = static_cast<RoamingData::LevelEntry const&>(entry).goalFlags();
    if (!(flags.before & kGoalAllCoins) && result.coinsCollected == result.coinTotal)
        flags.gained |= kGoalAllCoins;
    if (!(flags.before & kGoalNoDeaths) && result.deaths == 0)
        flags.gained |= kGoalNoDeaths;
    if (!(flags.before & kGoalTargetTime) && result.levelTime < LevelCatalog::entry(result.levelIndex).target)
        flags.gained |= kGoalTargetTime;
    if (flags.gained)
        entry.goalFlags() = flags.before | flags.gained;
    return flags;
}

int controlSchemeCode(ResultRecordingServices const& services) {
    if (services.isControllerPresent())
        return 2;
    if (services.hasPlatformInput())
        return 3;
    RoamingDataFile file(kSaveName);
    return static_cast<RoamingData const&>(file.data).controlScheme() == 1 ? 1 : 0;
}

void recordResult(GameMode mode, ScoreReport const& score, int64_t leaderboardValue, CloudSyncThread* cloudSync,
                  ResultRecordingServices const& services) {
    RoamingDataFile file(kSaveName);
    auto& data = file.data;
    std::vector<uint64_t> achievements;
    if (mode == GameMode::Hardcore) {
        if (replacesBest(static_cast<RoamingData const&>(data).hardcoreBestTime(), leaderboardValue))
            data.setHardcoreBestTime(uint64_t(leaderboardValue));
        achievements.push_back(kHardcoreAchievement);
    } else if (inCatalog(score.leaderboard)) {
        uint64_t const level = score.leaderboard;
        auto& entry = data.levelEntry(score.leaderboard);
        if (replacesBest(static_cast<RoamingData::LevelEntry const&>(entry).best(), leaderboardValue))
            entry.best() = uint64_t(leaderboardValue);
        double const target = LevelCatalog::entry(level).target;
        if (mode == GameMode::CollectTime && double(score.value) * 10.0 > target) {
            if (level == 9)
                achievements.push_back(21);
            else if (level == 19)
                achievements.push_back(23);
        }
        // Laps are compared with their fraction: 2.9 laps beat a target of 2.5.
        if (mode == GameMode::TimeAttack && double(score.value) / 1000.0 > target) {
            if (level == 4)
                achievements.push_back(20);
            else if (level == 14)
                achievements.push_back(22);
        }
        switch (level) {
        case 3: achievements.push_back(11); break;
        case 8: achievements.push_back(12); break;
        case 13: achievements.push_back(13); break;
        case 18: achievements.push_back(14); break;
        case 23: achievements.push_back(15); break;
        default: break;
        }
        starAchievements(data, level, achievements);
    }
    reportAll(services, achievements);
    if (cloudSync)
        cloudSync->send(CloudSyncThread::kSyncRoamingData);
    services.reportScores(&score, 1);
}

GoalFlags recordTrigger(TriggerVariant const& result, bool record, CloudSyncThread* cloudSync,
                        ResultRecordingServices const& services) {
    switch (result.which()) {
    case 0: {
        auto const& r = boost::get<ResultsMenu::NormalGameModeTriggerParameters>(result);
        GoalFlags const flags = recordGoalFlags(r, services);
        if (record && inCatalog(r.levelIndex)) {
            int64_t const value = roundResult(r.levelTime);
            recordResult(GameMode::Normal, {uint32_t(r.levelIndex), roundResult(r.levelTime / 10.0)}, value,
                         cloudSync, services);
            logPlayed(services, r.levelIndex, false, r.deaths, value);
        }
        return flags;
    }
    case 1: {
        auto const& r = boost::get<ResultsMenu::CollectTimeGameModeTriggerParameters>(result);
        touchEntry(r.levelIndex);
        if (record && inCatalog(r.levelIndex)) {
            int64_t const value = -roundResult(r.remainingTime);
            recordResult(GameMode::CollectTime, {uint32_t(r.levelIndex), roundResult(r.remainingTime / 10.0)}, value,
                         cloudSync, services);
            logPlayed(services, r.levelIndex, false, 0, value);
        }
        return {};
    }
    case 2: {
        auto const& r = boost::get<ResultsMenu::TimeAttackGameModeTriggerParameters>(result);
        touchEntry(r.levelIndex);
        if (record && inCatalog(r.levelIndex)) {
            int64_t const value = roundResult(double(r.laps) * -10000.0);
            recordResult(GameMode::TimeAttack, {uint32_t(r.levelIndex), roundResult(double(r.laps) * 1000.0)}, value,
                         cloudSync, services);
            logPlayed(services, r.levelIndex, false, 0, value);
        }
        return {};
    }
    case 3: {
        auto const& r = boost::get<ResultsMenu::HardcoreGameModeTriggerParameters>(result);
        if (record) {
            int64_t const value = roundResult(r.runTime);
            recordResult(GameMode::Hardcore, {kHardcoreTimeBoard, roundResult(r.runTime / 10.0)}, value, cloudSync,
                         services);
            logPlayed(services, LevelCatalog::count() - 1, true, 0, value);
            ScoreReport const levels{kHardcoreLevelsBoard, int64_t(LevelCatalog::countOfMode(GameMode::Normal))};
            services.reportScores(&levels, 1);
        }
        return {};
    }
    default: {
        auto const& r = boost::get<ResultsMenu::HardcoreFailedGameModeTriggerParameters>(result);
        if (record) {
            // A count of 0 would divide by zero.
            double const percent = r.levelCount ? double(r.levelsCompleted) * 100.0 / double(r.levelCount) : 0.0;
            AchievementReport const progress{kHardcoreAchievement, percent};
            services.reportAchievements(&progress, 1);
            ScoreReport const levels{kHardcoreLevelsBoard, int64_t(saturate32(r.levelsCompleted))};
            services.reportScores(&levels, 1);
        }
        return {};
    }
    }
}
