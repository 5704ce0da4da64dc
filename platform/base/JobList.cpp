#include "platform/base/JobList.h"

#include <algorithm>

namespace platform {

JobList::Id JobList::add(int64_t due, std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    Id const id = nextId_++;
    jobs_.push_back(Job{due, id, std::move(job)});
    return id;
}

bool JobList::cancel(Id id) {
    std::function<void()> dropped;  // destroyed outside the lock: it may hold anything
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(jobs_.begin(), jobs_.end(), [&](Job const& j) { return j.id == id; });
    if (it == jobs_.end()) return false;
    dropped = std::move(it->fn);
    jobs_.erase(it);
    return true;
}

std::vector<std::function<void()>> JobList::takeDue(int64_t now) {
    std::vector<Job> due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto split = std::stable_partition(jobs_.begin(), jobs_.end(), [&](Job const& j) { return j.due > now; });
        due.assign(std::make_move_iterator(split), std::make_move_iterator(jobs_.end()));
        jobs_.erase(split, jobs_.end());
    }
    std::sort(due.begin(), due.end(), [](Job const& a, Job const& b) { return a.id < b.id; });
    std::vector<std::function<void()>> out;
    out.reserve(due.size());
    for (Job& j : due) out.push_back(std::move(j.fn));
    return out;
}

std::optional<int64_t> JobList::nextDue() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::optional<int64_t> next;
    for (Job const& j : jobs_)
        if (!next || j.due < *next) next = j.due;
    return next;
}

size_t JobList::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size();
}

void JobList::clear() {
    std::vector<Job> old;
    std::lock_guard<std::mutex> lock(mutex_);
    old.swap(jobs_);
}

}  // namespace platform
