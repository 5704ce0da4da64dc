#pragma once
// Work handed to the main thread from anywhere: the frame loop runs what is due once per pass,
// also while no frames are drawn (inactive, or during a video).
#include <cstdint>
#include <functional>

#include "platform/base/JobList.h"

namespace os {

class MainQueue {
public:
    static MainQueue& shared();

    void async(std::function<void()> job);
    // Runs job on the first drain at or after nowMs() + delayMs.
    void after(int64_t delayMs, std::function<void()> job);
    // Runs the jobs due at nowMs, in the order given (jobs they queue wait for the next drain).
    // Returns how many ran.
    size_t drain(int64_t nowMs);
    size_t pending() const;
    void clear();

private:
    platform::JobList jobs_;
};

}  // namespace os
