#include "os/services/GameCenter.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "os/services/Documents.h"
#include "os/services/ShellBridge.h"
#include "os/services/ShellServices.h"

namespace {

constexpr char const* kPrefix = "grp.zelv.";

char const* const achievementNames[38] = {
    "goldStarAnyLevel", "threestars",     "allCoinStars",   "allZeroFatalityStars", "allTimeStars",
    "allAct1Stars",     "allAct2Stars",   "allAct3Stars",   "allAct4Stars",         "allAct5Stars",
    "allStars",         "completeAct1",   "completeAct2",   "completeAct3",         "completeAct4",
    "completeAct5",     "unlockBonusA",   "unlockBonusB",   "unlockBonusC",         "unlockBonusD",
    "challengeBonusA",  "challengeBonusB", "challengeBonusC", "challengeBonusD",     "cog2",
    nullptr,            "cog4",           "cog5",           "cog8",                 "cog9",
    "cog10",            "cog12",          "cog13",          "cog14",                "cog16",
    "cog17",            "cog18",          "hardcore"};

char const* const leaderboardNames[24] = {
    "level01", "level02", "level03", "level04", "bonus01", "level05", "level06", "level07",
    "level08", "bonus02", "level09", "level10", "level11", "level12", "bonus03", "level13",
    "level14", "level15", "level16", "bonus04", "level17", "level18", "level19", "level20"};

void present(std::function<void(bool)> const& onClose, std::optional<std::string> const& board) {
    game_center::closeCallback() = onClose;
    ShellBridge* shell = ShellBridge::get();
    if (isGameCenterAuthenticated() && shell) {
        if (board)
            shell->showGameCenterForLevel(*board);
        else
            shell->showGameCenter();
        return;
    }
    auto callback = std::move(game_center::closeCallback());
    game_center::closeCallback() = nullptr;
    if (callback) callback(false);
}

}  // namespace

bool isGameCenterAuthenticated() { return game_center::services().authenticated(); }

std::optional<std::string> achievementId(uint64_t index) {
    if (index >= 38 || !achievementNames[index]) return std::nullopt;
    return std::string(kPrefix) + achievementNames[index];
}

std::optional<std::string> leaderboardId(uint32_t index) {
    if (index < 24) return std::string(kPrefix) + leaderboardNames[index];
    if (index == 1337) return std::string(kPrefix) + "hardcoreleaderboardtime";
    if (index == 1338) return std::string(kPrefix) + "hardcoreleaderboardlevels";
    return std::nullopt;
}

void presentGameCenter(std::function<void(bool)> const& onClose) { present(onClose, std::nullopt); }

void presentGameCenterForLevel(std::function<void(bool)> const& onClose, uint32_t leaderboard) {
    present(onClose, leaderboardId(leaderboard).value_or(std::string()));
}

void presentGameCenterLogin() {
    if (ShellBridge* shell = ShellBridge::get()) shell->showGameCenterLoginIfNeeded();
}

void reportScores(ScoreReport const* reports, size_t count) {
    if (!reports) return;
    std::vector<std::pair<std::string, int64_t>> scores;
    for (size_t i = 0; i < count; ++i)
        if (auto id = leaderboardId(reports[i].leaderboard)) scores.emplace_back(*id, reports[i].value);
    game_center::services().reportScores(scores);
}

void reportAchievements(AchievementReport const* reports, size_t count) {
    if (!reports) return;
    std::vector<std::pair<std::string, double>> achievements;
    for (size_t i = 0; i < count; ++i) {
        AchievementReport const& r = reports[i];
        if (auto id = achievementId(r.achievement)) achievements.emplace_back(*id, r.percent);
        // The index is 64 bits wide: printed in full, not through a narrower format.
        if (r.percent == 100.0) logEvent(("ACHIEVEMENT_" + std::to_string(r.achievement)).c_str());
    }
    game_center::services().reportAchievements(achievements);
}

namespace game_center {

std::function<void(bool)>& closeCallback() {
    static std::function<void(bool)> slot;
    return slot;
}

platform::GameServices& services() {
    static platform::GameServices s(std::string(documentsPath()) + "gameservices", [] {
        char const* v = std::getenv("ZELV_GAME_SERVICES");
        return !(v && std::strcmp(v, "0") == 0);
    }());
    return s;
}

}  // namespace game_center
