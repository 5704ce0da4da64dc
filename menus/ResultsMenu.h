#pragma once
// The results menu. The result of a level reaches it as one of five parameter records, one per
// way a level can end; the game screen and the player's hardcore death build them.
#include <cstdint>

class ResultsMenu {
public:
    // Alternative 0: normal and intro levels.
    struct NormalGameModeTriggerParameters {
        uint64_t coinsCollected = 0;
        uint64_t coinTotal = 0;
        uint64_t deaths = 0;
        float levelTime = 0.0f;  // ms
        uint64_t levelIndex = 0;
        NormalGameModeTriggerParameters() = default;
        NormalGameModeTriggerParameters(uint64_t coins, uint64_t total, uint64_t deaths, float time, uint64_t index)
            : coinsCollected(coins), coinTotal(total), deaths(deaths), levelTime(time), levelIndex(index) {}
    };
    // Alternative 1.
    struct CollectTimeGameModeTriggerParameters {
        uint64_t coinsCollected = 0;
        uint64_t coinTotal = 0;
        float remainingTime = 0.0f;  // ms
        uint64_t levelIndex = 0;
        CollectTimeGameModeTriggerParameters() = default;
        CollectTimeGameModeTriggerParameters(uint64_t coins, uint64_t total, float remaining, uint64_t index)
            : coinsCollected(coins), coinTotal(total), remainingTime(remaining), levelIndex(index) {}
    };
    // Alternative 2.
    struct TimeAttackGameModeTriggerParameters {
        float laps = 0.0f;
        uint64_t levelIndex = 0;
        TimeAttackGameModeTriggerParameters() = default;
        TimeAttackGameModeTriggerParameters(float laps, uint64_t index) : laps(laps), levelIndex(index) {}
    };
    // Alternative 3: a hardcore run that finished the last level.
    struct HardcoreGameModeTriggerParameters {
        float runTime = 0.0f;  // ms
        HardcoreGameModeTriggerParameters() = default;
        explicit HardcoreGameModeTriggerParameters(float runTime) : runTime(runTime) {}
    };
    // Alternative 4: a hardcore run that ended in a death.
    struct HardcoreFailedGameModeTriggerParameters {
        float runTime = 0.0f;  // ms
        uint64_t levelsCompleted = 0;
        uint64_t levelCount = 0;
        HardcoreFailedGameModeTriggerParameters() = default;
        HardcoreFailedGameModeTriggerParameters(float runTime, uint64_t completed, uint64_t count)
            : runTime(runTime), levelsCompleted(completed), levelCount(count) {}
    };
};
