#pragma once
// Keeping a finished level's result: the stars and best value in the save record, the scores and
// achievements on the game services, "LEVELPLAYED" for analytics, the rating prompt's count and
// a cloud sync. The services are reached through a table so that tests can watch them.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "level/GameMode.h"
#include "menus/TriggerVariant.h"
#include "os/services/GameCenter.h"

class CloudSyncThread;

struct ResultRecordingServices {
    std::function<void(ScoreReport const*, size_t)> reportScores;
    std::function<void(AchievementReport const*, size_t)> reportAchievements;
    std::function<void(char const*, int, bool, uint32_t, int64_t)> logLevelPlayed;
    std::function<void(bool)> significantEvent;
    std::function<bool()> isControllerPresent;
    std::function<bool()> hasPlatformInput;

    // The real platform functions.
    static ResultRecordingServices const& platform();
};

// x rounded half away from zero through a 32-bit integer: saturates, and NaN gives 0, so a damaged
// best or an endless run cannot overflow.
int64_t roundResult(double x);

// Stars: bit 0 all coins, bit 1 no deaths, bit 2 under the target time.
constexpr uint8_t kGoalAllCoins = 1;
constexpr uint8_t kGoalNoDeaths = 2;
constexpr uint8_t kGoalTargetTime = 4;

struct GoalFlags {
    uint8_t before = 0;  // stored before this result
    uint8_t gained = 0;  // earned by this result and not stored before
};

// Stores the stars a normal finish earns, with its own accessor that is closed on return.
GoalFlags recordGoalFlags(ResultsMenu::NormalGameModeTriggerParameters const& result,
                          ResultRecordingServices const& services = ResultRecordingServices::platform());

// The control scheme "LEVELPLAYED" reports: 2 controller, 3 platform input, 1 on-screen buttons,
// else 0. Opens and closes its own read-only accessor.
int controlSchemeCode(ResultRecordingServices const& services = ResultRecordingServices::platform());

// Keeps the better value (lower wins; 0 stored means none), reports the achievements the save
// record now justifies, asks for a cloud sync and reports the score.
void recordResult(GameMode mode, ScoreReport const& score, int64_t leaderboardValue, CloudSyncThread* cloudSync,
                  ResultRecordingServices const& services = ResultRecordingServices::platform());

// What the board does when a level ends: the stars of a normal finish always (returned), and with
// record set the whole recording once.
GoalFlags recordTrigger(TriggerVariant const& result, bool record, CloudSyncThread* cloudSync,
                        ResultRecordingServices const& services = ResultRecordingServices::platform());
