#include "os/shell/FrameLimiter.h"

#include <errno.h>
#include <time.h>

namespace os {

int64_t FrameLimiter::monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t FrameLimiter::waitBefore(int64_t nowNs) const {
    if (!started_) return 0;
    int64_t due = next_ - slackNs;
    return nowNs < due ? due - nowNs : 0;
}

void FrameLimiter::onTick(int64_t nowNs) {
    if (!started_) {
        started_ = true;
        next_ = nowNs;
    }
    next_ += periodNs;
    // After a stall, start afresh instead of running a burst of catch-up ticks.
    if (next_ < nowNs) next_ = nowNs + periodNs;
}

void FrameLimiter::waitAndTick() {
    int64_t now = monotonicNs();
    int64_t wait = waitBefore(now);
    if (wait > 0) {
        int64_t until = now + wait;
        timespec ts{time_t(until / 1000000000), long(until % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
        now = monotonicNs();
    }
    onTick(now);
}

}  // namespace os
