#pragma once
// The view listing the player's boards and achievements. On a display it is a message box; in
// headless runs it closes by itself on the next frame.
#include <functional>
#include <string>

namespace os {

class GameCenterView {
public:
    virtual ~GameCenterView() = default;
    // leaderboard: the board to show first, empty for all. onFinish runs once the player closes it.
    virtual void present(std::string const& leaderboard, std::function<void()> onFinish);
    virtual void dismiss() {}
};

}  // namespace os
