#pragma once
// The view listing the player's boards and achievements: drawn by the app frame over the running
// game. Without an app frame that can show it, it closes by itself on the next main-queue turn.
#include <functional>
#include <string>

namespace os {

class AppFrame;

class GameCenterView {
public:
    using AppGetter = std::function<AppFrame*()>;
    explicit GameCenterView(AppGetter app = nullptr) : app_(std::move(app)) {}
    virtual ~GameCenterView() = default;
    // leaderboard: the board to show first, empty for all. onFinish runs once the player closes it.
    virtual void present(std::string const& leaderboard, std::function<void()> onFinish);
    virtual void dismiss();

private:
    AppFrame* app() const { return app_ ? app_() : nullptr; }
    AppGetter app_;
};

}  // namespace os
