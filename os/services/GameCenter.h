#pragma once
// Game service functions: identifiers, the player's sign-in, showing the boards, reporting scores
// and achievements. The reports go to the local stand-in (platform/GameServices.h), whose file
// lives in the documents folder.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/GameServices.h"

struct ScoreReport {
    uint32_t leaderboard;
    int64_t value;
};

struct AchievementReport {
    uint64_t achievement;
    double percent;  // 0..100
};

bool isGameCenterAuthenticated();
// Identifiers by index; none for an index without one.
std::optional<std::string> achievementId(uint64_t index);
std::optional<std::string> leaderboardId(uint32_t index);
// Shows the boards; onClose(true) when they close, or onClose(false) at once when signed out.
void presentGameCenter(std::function<void(bool)> const& onClose);
void presentGameCenterForLevel(std::function<void(bool)> const& onClose, uint32_t leaderboard);
void presentGameCenterLogin();
void reportScores(ScoreReport const* reports, size_t count);
// A record at exactly 100 percent also logs "ACHIEVEMENT_" and its index.
void reportAchievements(AchievementReport const* reports, size_t count);

namespace game_center {
// The close slot: set by presentGameCenter, called once and cleared by the shell. Main thread.
std::function<void(bool)>& closeCallback();
// The local player's services, on "gameservices" in the documents folder; signed in unless
// ZELV_GAME_SERVICES is "0".
platform::GameServices& services();
}  // namespace game_center
