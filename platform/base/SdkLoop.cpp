#include "platform/base/SdkLoop.h"

#include "platform/base/AlternateSignalStack.h"
#include "platform/base/ForkedChild.h"

#include <system_error>
#include <chrono>
#include <cstdio>
#include <exception>

namespace platform {

SdkLoop& SdkLoop::shared() {
    static SdkLoop* loop = new SdkLoop;
    return *loop;
}

SdkLoop::SdkLoop() = default;

SdkLoop::~SdkLoop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
}

int64_t SdkLoop::realNow() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t SdkLoop::nowMs() const {
    if (isForkedChildWithoutThreads()) return realNow();
    std::lock_guard<std::mutex> lock(mutex_);
    return virtual_ ? virtualNow_ : realNow();
}

void SdkLoop::ensureThread() {
    if (thread_.joinable() || stopping_) return;
    noteLibraryThreadStarting();
    try {
        thread_ = std::thread([this] { loop(); });
    } catch (std::system_error const& e) {
        // No thread to spare: the jobs wait, and the next one posted tries again.
        if (!toldNoThread_) std::fprintf(stderr, "SdkLoop: cannot start its thread (%s); its jobs wait\n", e.what());
        toldNoThread_ = true;
    }
}

void SdkLoop::post(std::function<void()> block) { after(0, std::move(block)); }

// A forked child without the loop's thread runs none of its jobs, and does not touch what that
// thread may have left half changed.
void SdkLoop::after(int64_t delayMs, std::function<void()> block) {
    if (!block || isForkedChildWithoutThreads()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t const now = virtual_ ? virtualNow_ : realNow();
    jobs_.add(delayMs > 0 ? now + delayMs : now, std::move(block));
    ensureThread();
    changed_.notify_all();
}

SdkLoop::TimerId SdkLoop::scheduleTimer(int64_t intervalMs, bool repeats, std::function<void()> block) {
    if (isForkedChildWithoutThreads()) return 0;  // never valid
    std::lock_guard<std::mutex> lock(mutex_);
    // A repeating timer needs a positive interval, or it would fire without end.
    if (intervalMs < 1) intervalMs = 1;
    TimerId const id = nextTimer_++;
    int64_t const due = (virtual_ ? virtualNow_ : realNow()) + intervalMs;
    JobList::Id const job = jobs_.add(due, [this, id, due] { fire(id, due); });
    timers_[id] = Timer{intervalMs, repeats, std::move(block), job};
    ensureThread();
    changed_.notify_all();
    return id;
}

void SdkLoop::fire(TimerId id, int64_t due) {
    std::function<void()> block;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = timers_.find(id);
        if (it == timers_.end()) return;
        Timer& t = it->second;
        block = t.block;
        if (t.repeats) {
            int64_t const now = virtual_ ? virtualNow_ : realNow();
            int64_t next = due + t.interval;
            if (next <= now) next += ((now - next) / t.interval + 1) * t.interval;
            t.job = jobs_.add(next, [this, id, next] { fire(id, next); });
        } else {
            timers_.erase(it);
        }
    }
    block();
}

void SdkLoop::invalidateTimer(TimerId id) {
    if (isForkedChildWithoutThreads()) return;
    std::function<void()> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    jobs_.cancel(it->second.job);
    dropped = std::move(it->second.block);
    timers_.erase(it);
}

bool SdkLoop::isTimerValid(TimerId id) const {
    if (isForkedChildWithoutThreads()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return timers_.count(id) != 0;
}

void SdkLoop::setVirtualClock(bool on) {
    if (isForkedChildWithoutThreads()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (on && !virtual_) virtualNow_ = realNow();
    virtual_ = on;
    changed_.notify_all();
}

void SdkLoop::advance(int64_t ms) {
    if (isForkedChildWithoutThreads()) return;
    int64_t target;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        target = (virtual_ ? virtualNow_ : realNow()) + ms;
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto const next = jobs_.nextDue();
            if (!virtual_ || !next || *next > target) break;
            if (*next > virtualNow_) virtualNow_ = *next;
            changed_.notify_all();
        }
        waitUntilIdle();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (virtual_ && target > virtualNow_) virtualNow_ = target;
        changed_.notify_all();
    }
    waitUntilIdle();
}

void SdkLoop::waitUntilIdle() {
    if (isLoopThread() || isForkedChildWithoutThreads()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] {
        if (running_) return false;
        auto const next = jobs_.nextDue();
        return !next || *next > (virtual_ ? virtualNow_ : realNow()) || !thread_.joinable();
    });
}

bool SdkLoop::isLoopThread() const { return std::this_thread::get_id() == loopThread_.load(); }

void SdkLoop::loop() {
    AlternateSignalStack::installForThisThread();
    loopThread_ = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        int64_t const now = virtual_ ? virtualNow_ : realNow();
        {
            // Jobs are taken, run and let go as library work, which a fork waits for; while one
            // holds work back none is taken, since this lock is one that work takes.
            LibraryWork work(lock);
            if (!work.entered()) continue;
            auto due = jobs_.takeDue(now);
            if (!due.empty()) {
                running_ = true;
                lock.unlock();
                for (auto& job : due) {
                    try {
                        job();
                    } catch (std::exception const& e) {
                        std::fprintf(stderr, "SdkLoop: a block threw: %s\n", e.what());
                    } catch (...) {
                        std::fprintf(stderr, "SdkLoop: a block threw\n");
                    }
                    job = nullptr;
                }
                lock.lock();
                running_ = false;
                changed_.notify_all();
                continue;
            }
        }
        auto const next = jobs_.nextDue();
        if (next && !virtual_)
            changed_.wait_for(lock, std::chrono::milliseconds(*next - now));
        else
            changed_.wait(lock);
    }
}

}  // namespace platform
