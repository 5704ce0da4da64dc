#pragma once
// The loop on which the analytics agent's network and heartbeat work runs: a thread of its own
// for posted blocks and timers, so they never wait for frames. Tests switch it to a virtual
// clock and move time forward themselves. A forked child, which has no such thread, runs none of
// the loop's jobs and waits for none.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "platform/base/JobList.h"

namespace platform {

class SdkLoop {
public:
    // Never destroyed: late posts from exiting threads stay safe.
    static SdkLoop& shared();
    SdkLoop();
    ~SdkLoop();
    SdkLoop(SdkLoop const&) = delete;
    SdkLoop& operator=(SdkLoop const&) = delete;

    void post(std::function<void()> block);
    void after(int64_t delayMs, std::function<void()> block);

    using TimerId = uint64_t;
    // A timer fires every intervalMs (once unless it repeats); a repeating timer that falls
    // behind skips the firings it missed.
    TimerId scheduleTimer(int64_t intervalMs, bool repeats, std::function<void()> block);
    void invalidateTimer(TimerId id);
    bool isTimerValid(TimerId id) const;

    // Milliseconds on the loop's clock: monotonic, or the virtual clock.
    int64_t nowMs() const;
    // The virtual clock starts at the current time and moves only through advance().
    void setVirtualClock(bool on);
    // Moves the virtual clock forward, running on the loop thread everything that falls due on
    // the way, in time order, and returns once it has run.
    void advance(int64_t ms);
    // Returns once nothing due now is left to run (at once on the loop thread itself).
    void waitUntilIdle();
    bool isLoopThread() const;

private:
    void ensureThread();
    void loop();
    void fire(TimerId id, int64_t due);
    int64_t realNow() const;

    JobList jobs_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
    std::atomic<std::thread::id> loopThread_{};
    bool stopping_ = false;
    bool toldNoThread_ = false;
    bool running_ = false;
    bool virtual_ = false;
    int64_t virtualNow_ = 0;
    struct Timer {
        int64_t interval;
        bool repeats;
        std::function<void()> block;
        JobList::Id job;
    };
    std::map<TimerId, Timer> timers_;
    TimerId nextTimer_ = 1;
};

}  // namespace platform
