#pragma once
// The window's root view controller: landscape only, signs the local player in, shows the
// boards with a timed analytics event and a close callback, and starts the level of a score
// challenge the player chooses to play.
#include <functional>
#include <memory>
#include <string>

#include "os/shell/GameCenterView.h"

namespace os {

class MainViewController {
public:
    enum Orientation : int { Portrait = 1, PortraitUpsideDown = 2, LandscapeRight = 3, LandscapeLeft = 4 };

    // A challenge from another player; only score challenges name a leaderboard.
    struct Challenge {
        bool isScoreChallenge = false;
        std::string leaderboard;
    };

    using OpenLevel = std::function<void(std::string const& indexText)>;
    // view: null for the standard view.
    MainViewController(OpenLevel openLevel, std::unique_ptr<GameCenterView> view = nullptr);

    bool shouldAutorotateToInterfaceOrientation(int orientation) const;

    void authenticateLocalGKPlayer();
    // What the sign-in hands over: a dialog to show later (its show action), or nothing.
    void authenticateHandler(std::function<void()> loginDialog);
    void showGameCenterLoginIfNeeded();
    void showGameCenter();
    void showGameCenterForLevel(std::string const& leaderboard);
    void gameCenterViewControllerDidFinish();

    void playerDidCompleteChallenge();
    void playerDidReceiveChallenge();
    void playerIssuedChallengeWasCompleted();
    void playerWantsToPlayChallenge(Challenge const& challenge);

    bool hasGameCenterView() const { return gameCenterVisible_; }
    bool hasLoginDialog() const { return bool(gkLoginDialog_); }

private:
    void show(std::string const& leaderboard);

    OpenLevel openLevel_;
    std::unique_ptr<GameCenterView> view_;
    std::function<void()> gkLoginDialog_;
    bool gameCenterVisible_ = false;
    uint64_t presentation_ = 0;  // which presentation a finish belongs to
    // A view finishing after this controller is gone finds out through this.
    std::shared_ptr<MainViewController*> self_;
};

}  // namespace os
