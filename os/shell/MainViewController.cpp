#include "os/shell/MainViewController.h"

#include "analytics/agent/Tally.h"
#include "os/services/GameCenter.h"

namespace os {

MainViewController::MainViewController(OpenLevel openLevel, std::unique_ptr<GameCenterView> view)
    : openLevel_(std::move(openLevel)),
      view_(view ? std::move(view) : std::make_unique<GameCenterView>()),
      self_(std::make_shared<MainViewController*>(this)) {
    authenticateLocalGKPlayer();
}

bool MainViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
    return orientation == LandscapeRight || orientation == LandscapeLeft;
}

// The local stand-in signs in at once and has no dialog to hand over.
void MainViewController::authenticateLocalGKPlayer() { authenticateHandler(nullptr); }

void MainViewController::authenticateHandler(std::function<void()> loginDialog) {
    if (loginDialog) gkLoginDialog_ = std::move(loginDialog);
}

void MainViewController::showGameCenterLoginIfNeeded() {
    if (!gkLoginDialog_) return;
    auto dialog = std::move(gkLoginDialog_);
    gkLoginDialog_ = nullptr;
    dialog();
}

void MainViewController::show(std::string const& leaderboard) {
    if (gameCenterVisible_) return;
    gameCenterVisible_ = true;
    uint64_t const presentation = ++presentation_;
    Tally::logEvent("GAMECENTER_OPEN", true);
    std::weak_ptr<MainViewController*> self = self_;
    view_->present(leaderboard, [self, presentation] {
        auto alive = self.lock();
        if (!alive) return;
        MainViewController& c = **alive;
        // A finish for a presentation that has ended already does nothing.
        if (c.gameCenterVisible_ && presentation == c.presentation_) c.gameCenterViewControllerDidFinish();
    });
}

void MainViewController::showGameCenter() { show(std::string()); }

void MainViewController::showGameCenterForLevel(std::string const& leaderboard) { show(leaderboard); }

void MainViewController::gameCenterViewControllerDidFinish() {
    Tally::endTimedEvent("GAMECENTER_OPEN", std::nullopt);
    auto callback = std::move(game_center::closeCallback());
    game_center::closeCallback() = nullptr;
    if (callback) callback(true);
    view_->dismiss();
    gameCenterVisible_ = false;
}

void MainViewController::playerDidCompleteChallenge() { Tally::logEvent("GAMECENTER_CHALLENGE_COMPLETED"); }

void MainViewController::playerDidReceiveChallenge() { Tally::logEvent("GAMECENTER_CHALLENGE_RECIEVED"); }

void MainViewController::playerIssuedChallengeWasCompleted() {
    Tally::logEvent("GAMECENTER_ISSUED_CHALLENGE_COMPLETED");
}

void MainViewController::playerWantsToPlayChallenge(Challenge const& challenge) {
    if (!challenge.isScoreChallenge) return;
    for (uint32_t index = 0;; ++index) {
        auto id = leaderboardId(index);
        if (!id) break;
        if (*id == challenge.leaderboard && openLevel_) openLevel_(std::to_string(index));
    }
}

}  // namespace os
