#include "game/ScoreValues.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

// Half away from zero, saturating at the 32-bit range (a cast of an out-of-range or NaN float
// would be undefined).
int32_t roundToInt32(double x) {
    if (std::isnan(x)) return 0;
    double const r = x >= 0.0 ? std::trunc(x + 0.5) : std::trunc(x - 0.5);
    if (r >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (r <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return int32_t(r);
}

}  // namespace

std::int64_t scoreToLeaderboardValue(float score, GameMode mode) {
    switch (mode) {
        case GameMode::Normal:
        case GameMode::Hardcore:
            return roundToInt32(score);
        case GameMode::TimeAttack:
            return roundToInt32(double(score) * -10000.0);
        case GameMode::CollectTime:
            // Negated in 64 bits: the minimum would not negate in 32.
            return -std::int64_t(roundToInt32(score));
        default:
            return 0;
    }
}

float leaderboardValueToScore(std::int64_t value, GameMode mode) {
    switch (mode) {
        case GameMode::Normal:
        case GameMode::Hardcore:
            return float(value);
        case GameMode::TimeAttack:
            return float(double(value) / -10000.0);
        case GameMode::CollectTime:
            return -float(value);
        default:
            return 0.0f;
    }
}

std::string formatScore(std::int64_t const& value, GameMode mode) {
    char text[64];
    switch (mode) {
        case GameMode::Normal:
        case GameMode::CollectTime:
        case GameMode::Hardcore: {
            int64_t const minutes = value / 60000;
            int64_t const seconds = value / 1000 - minutes * 60;
            int64_t const millis = value - (value / 1000) * 1000;
            std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ".%03" PRId64, minutes, seconds, millis);
            return text;
        }
        case GameMode::TimeAttack: {
            // The minimum value has no positive counterpart; it stays at the maximum.
            int64_t const n = value == std::numeric_limits<int64_t>::min() ? std::numeric_limits<int64_t>::max() : -value;
            std::snprintf(text, sizeof text, "%" PRId64 ".%04" PRId64, n / 10000, n - (n / 10000) * 10000);
            return text;
        }
        default:
            return std::string();
    }
}
