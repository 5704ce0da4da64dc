#include "os/shell/MainQueue.h"

#include <algorithm>

#include "os/services/PlatformServices.h"

namespace os {

MainQueue& MainQueue::shared() {
    // Never destroyed: a worker finishing while the process exits may still post to it.
    static MainQueue* q = new MainQueue;
    return *q;
}

void MainQueue::async(std::function<void()> job) { after(0, std::move(job)); }

void MainQueue::after(int64_t delayMs, std::function<void()> job) {
    int64_t const due = delayMs > 0 ? ::nowMs() + delayMs : INT64_MIN;
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(Job{due, nextOrder_++, std::move(job)});
}

size_t MainQueue::drain(int64_t nowMs) {
    std::vector<Job> due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto split = std::stable_partition(jobs_.begin(), jobs_.end(), [&](Job const& j) { return j.due > nowMs; });
        due.assign(std::make_move_iterator(split), std::make_move_iterator(jobs_.end()));
        jobs_.erase(split, jobs_.end());
    }
    std::sort(due.begin(), due.end(), [](Job const& a, Job const& b) { return a.order < b.order; });
    for (Job& j : due) j.fn();
    return due.size();
}

size_t MainQueue::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size();
}

void MainQueue::clear() {
    std::vector<Job> old;
    std::lock_guard<std::mutex> lock(mutex_);
    old.swap(jobs_);
}

}  // namespace os
