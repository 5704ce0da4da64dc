#include "platform/GameServices.h"

#include <cstdlib>

namespace platform {

GameServices::GameServices(std::filesystem::path file, bool enabled) : file_(std::move(file)), authenticated_(enabled) {}

std::string GameServices::playerName() const {
    char const* user = std::getenv("USER");
    return user && *user ? user : "Player";
}

void GameServices::reportScores(std::vector<Score> const& scores) {
    if (!authenticated_ || scores.empty()) return;
    for (auto const& [board, value, lowerIsBetter] : scores) {
        std::string const key = "score." + board;
        bool const known = file_.string(key).has_value();
        int64_t const best = file_.integer(key);
        bool const better = lowerIsBetter ? value < best : value > best;
        if (!known || better) file_.setInteger(key, value);
    }
    file_.synchronize();
}

void GameServices::reportAchievements(std::vector<std::pair<std::string, double>> const& achievements) {
    if (!authenticated_ || achievements.empty()) return;
    for (auto const& [id, percent] : achievements) {
        std::string const key = "achievement." + id;
        if (!file_.string(key) || percent > file_.real(key)) file_.setReal(key, percent);
    }
    file_.synchronize();
}

bool GameServices::hasScore(std::string const& board) const { return file_.string("score." + board).has_value(); }

int64_t GameServices::score(std::string const& board) const { return file_.integer("score." + board); }

double GameServices::achievementPercent(std::string const& id) const { return file_.real("achievement." + id); }

std::vector<std::string> GameServices::summary() const {
    std::vector<std::string> lines;
    for (auto const& [k, v] : file_.entries()) {
        if (k.rfind("score.", 0) == 0) lines.push_back(k.substr(6) + ": " + v);
        if (k.rfind("achievement.", 0) == 0) lines.push_back(k.substr(12) + ": " + v + "%");
    }
    return lines;
}

}  // namespace platform
