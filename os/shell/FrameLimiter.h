#pragma once
#include <cstdint>

namespace os {

// Keeps the frame loop at no more than 60 ticks a second. Vsync paces the loop on a 60 Hz
// display; a faster display, or a driver without vsync, is held back here so the game does
// not speed up (the world steps a fixed 1/60 s per frame).
class FrameLimiter {
public:
    static constexpr int64_t periodNs = 1000000000 / 60;
    // Slack so that a vsync-paced 60 Hz loop that wakes a little early is never held back a
    // whole refresh; the deadlines still advance a full period per tick.
    static constexpr int64_t slackNs = 1000000;

    // How long to wait before the next tick when the clock reads now (ns); 0 means tick now.
    // Call onTick(now) when the tick starts.
    int64_t waitBefore(int64_t nowNs) const;
    void onTick(int64_t nowNs);

    // Sleeps until the next tick is due, then records it.
    void waitAndTick();

    static int64_t monotonicNs();

private:
    int64_t next_ = 0;
    bool started_ = false;
};

}  // namespace os
