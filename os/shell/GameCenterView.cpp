#include "os/shell/GameCenterView.h"

#include "os/shell/AppFrame.h"
#include "os/shell/MainQueue.h"

namespace os {

void GameCenterView::present(std::string const& leaderboard, std::function<void()> onFinish) {
    if (AppFrame* frame = app(); frame && frame->presentGameServices(leaderboard, onFinish)) return;
    // Finished from the main queue, so the caller's frame completes first.
    MainQueue::shared().async([onFinish = std::move(onFinish)] {
        if (onFinish) onFinish();
    });
}

void GameCenterView::dismiss() {
    if (AppFrame* frame = app()) frame->dismissGameServices();
}

}  // namespace os
