#pragma once
// Jobs by due time: the main queue's and the SDK loop's list. Jobs due together run in the order
// they were added. Safe from any thread.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

class JobList {
public:
    using Id = uint64_t;
    Id add(int64_t due, std::function<void()> job);
    // False when the job has already been taken or was never there.
    bool cancel(Id id);
    // Removes and returns the jobs due at now, in the order they were added.
    std::vector<std::function<void()>> takeDue(int64_t now);
    std::optional<int64_t> nextDue() const;
    size_t size() const;
    void clear();

private:
    struct Job {
        int64_t due;
        Id id;
        std::function<void()> fn;
    };
    mutable std::mutex mutex_;
    std::vector<Job> jobs_;
    Id nextId_ = 1;
};

}  // namespace platform
