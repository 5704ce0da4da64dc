#include <gtest/gtest.h>

#include "os/shell/FrameLimiter.h"

using os::FrameLimiter;

namespace {

// Runs a loop whose display refreshes every refreshNs for ten simulated seconds and gives the
// ticks per second.
double ticksPerSecond(int64_t refreshNs) {
    FrameLimiter limiter;
    int64_t now = 1000000000;
    int64_t const end = now + 10 * int64_t(1000000000);
    int ticks = 0;
    while (now < end) {
        now += limiter.waitBefore(now);
        if (now >= end) break;
        limiter.onTick(now);
        ++ticks;
        // The swap returns at the next refresh after the tick.
        now = (now / refreshNs + 1) * refreshNs;
    }
    return (ticks - 1) / 10.0;
}

TEST(FrameLimiter, NeverMoreThanSixtyTicksASecond) {
    EXPECT_LE(ticksPerSecond(1000000000 / 144), 60.0);
    EXPECT_LE(ticksPerSecond(1000000000 / 240), 60.0);
    EXPECT_LE(ticksPerSecond(1), 60.0);  // no vsync at all
    EXPECT_GE(ticksPerSecond(1), 59.9);
    EXPECT_GE(ticksPerSecond(1000000000 / 144), 48.0);
}

TEST(FrameLimiter, VsyncedSixtyHertzLoopIsNotHeldBack) {
    // A display a little faster than 60 Hz would otherwise lose a refresh now and then.
    EXPECT_GE(ticksPerSecond(1000000000 / 60 - 20000), 59.9);
    EXPECT_GE(ticksPerSecond(1000000000 / 60), 59.9);
}

TEST(FrameLimiter, StallDoesNotCauseCatchUpBurst) {
    FrameLimiter limiter;
    int64_t now = 0;
    limiter.onTick(now);
    now += 500000000;  // half a second stall
    EXPECT_EQ(limiter.waitBefore(now), 0);
    limiter.onTick(now);
    EXPECT_GT(limiter.waitBefore(now), FrameLimiter::periodNs - 2 * FrameLimiter::slackNs);
}

}  // namespace
