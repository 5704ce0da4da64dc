#pragma once
// Stands in for the online game service: one local player, and the scores and achievements
// reported for it, kept in a settings file in the documents folder.
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/PreferencesFile.h"

namespace platform {

class GameServices {
public:
    // enabled: the local player is signed in.
    GameServices(std::filesystem::path file, bool enabled);

    bool authenticated() const { return authenticated_; }
    void setAuthenticated(bool signedIn) { authenticated_ = signedIn; }
    std::string playerName() const;

    struct Score {
        std::string board;
        int64_t value;
        bool lowerIsBetter;  // the board's own direction: times up to now, counts down
    };
    // Each board keeps its best value in the board's direction.
    void reportScores(std::vector<Score> const& scores);
    // Each achievement keeps its highest percentage.
    void reportAchievements(std::vector<std::pair<std::string, double>> const& achievements);

    bool hasScore(std::string const& board) const;
    int64_t score(std::string const& board) const;
    double achievementPercent(std::string const& id) const;
    // One line per board and achievement, for the list the player is shown.
    std::vector<std::string> summary() const;

private:
    PreferencesFile file_;
    bool authenticated_;
};

}  // namespace platform
