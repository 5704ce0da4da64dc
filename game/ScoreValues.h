#pragma once
// A level's score as a leaderboard value, back again, and as text.
#include <cstdint>
#include <string>

#include "level/GameMode.h"

std::int64_t scoreToLeaderboardValue(float score, GameMode mode);
float leaderboardValueToScore(std::int64_t value, GameMode mode);
std::string formatScore(std::int64_t const& value, GameMode mode);
