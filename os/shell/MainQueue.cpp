#include "os/shell/MainQueue.h"

#include "os/services/PlatformServices.h"

namespace os {

MainQueue& MainQueue::shared() {
    // Never destroyed: a worker finishing while the process exits may still post to it.
    static MainQueue* q = new MainQueue;
    return *q;
}

void MainQueue::async(std::function<void()> job) { after(0, std::move(job)); }

void MainQueue::after(int64_t delayMs, std::function<void()> job) {
    jobs_.add(delayMs > 0 ? ::nowMs() + delayMs : INT64_MIN, std::move(job));
}

size_t MainQueue::drain(int64_t nowMs) {
    auto due = jobs_.takeDue(nowMs);
    for (auto& job : due) job();
    return due.size();
}

size_t MainQueue::pending() const { return jobs_.size(); }

void MainQueue::clear() { jobs_.clear(); }

}  // namespace os
