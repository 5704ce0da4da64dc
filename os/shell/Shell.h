#pragma once

namespace os {

// Launches the game in a window and drives the app frame once per display refresh until the
// window is closed or the process is asked to terminate. Returns the exit status.
class Shell {
public:
    int run();

private:
    int runGame();
};

}  // namespace os
