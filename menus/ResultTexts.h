#pragma once
// The results board's texts: rows, laps, run and target lines, built from a result and the best
// stored before it. Formatting returns strings, so that two times can share one expression.
#include <cstdint>
#include <functional>
#include <string>

#include "menus/TriggerVariant.h"

// The localized text of a key.
using Localize = std::function<std::string(std::string const& key)>;

// "%02d" minutes, colon, "%02d" seconds, period, "%03d" milliseconds; NaN shows as 0 and values
// beyond 32 bits of milliseconds saturate.
std::string formatResultTime(float ms, Localize const& text);
// Whole seconds (not wrapped at 60), period, "%03d" milliseconds.
std::string formatResultSeconds(float ms, Localize const& text);
// Thousandths, counted as a leaderboard value in ten-thousandths of a lap (lower is more laps).
std::string formatResultLaps(int64_t leaderboardValue);

struct ResultTexts {
    std::string row1, row2, row3, laps, run, target;
};

// Whether the board's best line shows the stored best: there is one and this result (as a
// leaderboard value) does not beat it. Otherwise the line repeats the result as just shown.
bool showsStoredBest(int64_t current, uint64_t storedBest);

// storedBest is the level's (or the hardcore run's) best before this result is recorded.
ResultTexts resultTexts(TriggerVariant const& result, uint64_t storedBest, Localize const& text);

// The best stored for the result's level, or the hardcore best; 0 when none. Own accessor.
uint64_t storedBestFor(TriggerVariant const& result);
