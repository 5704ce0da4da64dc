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

// The level boards in catalog order, with the direction of what the results report to them:
// main levels their finish time in hundredths of a second (lower is better); the time-attack
// bonus levels (A, C) their laps in thousandths and the collect-time ones (B, D) the time
// collected (higher is better).
struct Board {
    char const* name;
    bool lowerIsBetter;
};
Board const leaderboards[24] = {
    {"level01", true},  {"level02", true},  {"level03", true},  {"level04", true},  {"bonus01", false},
    {"level05", true},  {"level06", true},  {"level07", true},  {"level08", true},  {"bonus02", false},
    {"level09", true},  {"level10", true},  {"level11", true},  {"level12", true},  {"bonus03", false},
    {"level13", true},  {"level14", true},  {"level15", true},  {"level16", true},  {"bonus04", false},
    {"level17", true},  {"level18", true},  {"level19", true},  {"level20", true}};
// Hardcore: the whole run's time (lower is better) and the count of levels done (higher is better).
constexpr uint32_t hardcoreTimeBoard = 1337;
constexpr uint32_t hardcoreLevelsBoard = 1338;

bool lowerIsBetter(uint32_t index) { return index < 24 ? leaderboards[index].lowerIsBetter : index == hardcoreTimeBoard; }

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
    if (index < 24) return std::string(kPrefix) + leaderboards[index].name;
    if (index == hardcoreTimeBoard) return std::string(kPrefix) + "hardcoreleaderboardtime";
    if (index == hardcoreLevelsBoard) return std::string(kPrefix) + "hardcoreleaderboardlevels";
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
    std::vector<platform::GameServices::Score> scores;
    for (size_t i = 0; i < count; ++i)
        if (auto id = leaderboardId(reports[i].leaderboard))
            scores.push_back({*id, reports[i].value, lowerIsBetter(reports[i].leaderboard)});
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
