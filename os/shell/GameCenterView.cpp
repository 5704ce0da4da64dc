#include "os/shell/GameCenterView.h"

#include "os/services/GameCenter.h"
#include "os/shell/MainQueue.h"
#include "platform/MessageDialog.h"

namespace os {

void GameCenterView::present(std::string const& leaderboard, std::function<void()> onFinish) {
    // Shown from the main queue, so the caller's frame completes first.
    MainQueue::shared().async([leaderboard, onFinish = std::move(onFinish)] {
        if (platform::MessageDialog::displayAvailable()) {
            std::string text;
            for (auto const& line : game_center::services().summary())
                if (leaderboard.empty() || line.rfind(leaderboard, 0) == 0) text += line + "\n";
            if (text.empty()) text = "No scores yet.";
            platform::MessageDialog::choose(game_center::services().playerName(), text, {"Done"});
        }
        if (onFinish) onFinish();
    });
}

}  // namespace os
