#pragma once
// What the platform functions ask of the running shell (its delegate and root view controller).
// The shell registers itself at launch; without a shell these requests find nobody.
#include <string>

class ShellBridge {
public:
    virtual void playVideo(char const* path) = 0;
    virtual void skipVideo() = 0;
    virtual void showGameCenter() = 0;
    virtual void showGameCenterForLevel(std::string const& leaderboard) = 0;
    virtual void showGameCenterLoginIfNeeded() = 0;
    virtual void significantEvent(bool canPrompt) = 0;

    // Null unregisters. Main thread only.
    static void set(ShellBridge* bridge);
    static ShellBridge* get();

protected:
    ~ShellBridge() = default;
};
