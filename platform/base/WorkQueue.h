#pragma once
// Work queues with the phone's ordering rules. A serial queue runs one block at a time in
// submission order. A concurrent queue runs plain blocks side by side; a barrier waits for every
// block submitted before it, runs alone, and holds back every block submitted after it.
//
// sync blocks run on the caller's thread once their turn comes; on a concurrent queue a plain
// sync block whose turn is now (no earlier barrier pending) runs at once, next to whatever reads
// are running. A sync onto the queue the caller is already running on is logged and run inline
// rather than waiting for itself. An exception thrown by a sync block reaches its caller; one
// thrown by an async block is logged and the queue goes on.
//
// A queue that cannot start a thread (a limit on threads) says so once and keeps its blocks in
// order: a sync caller runs the blocks queued ahead of its own on its thread, as a worker would
// (a plain sync on a concurrent queue too: it runs the reads ahead rather than starting beside
// reads nobody runs), and so do waitUntilIdle and the destructor; a later submit tries again to
// start a worker.
//
// A child forked without exec from a process whose queues had threads has none of them: there
// no queue starts a thread, its callers run its blocks as above, and what the parent had queued
// is left to the parent.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

class WorkQueue {
public:
    enum class Kind { Serial, Concurrent };
    explicit WorkQueue(std::string label, Kind kind = Kind::Serial, int width = 4);
    // Runs what is still queued (on the caller when no worker ever started), then stops its threads.
    ~WorkQueue();
    WorkQueue(WorkQueue const&) = delete;
    WorkQueue& operator=(WorkQueue const&) = delete;

    std::string const& label() const;
    Kind kind() const;

    // Both answer the count of blocks submitted so far, this one included (see submitted).
    uint64_t async(std::function<void()> block);
    uint64_t asyncBarrier(std::function<void()> block);
    void sync(std::function<void()> const& block);
    void syncBarrier(std::function<void()> const& block);

    // Every block queued so far, async or sync. A caller that kept the count its own block got
    // can tell whether anything has been queued behind that block since.
    uint64_t submitted() const;

    // Whether the calling thread is running a block of this queue.
    bool isCurrent() const;
    // Waits until every block submitted so far has run.
    void waitUntilIdle();
    // The same, for at most about limit while workers run them (false when the limit passed
    // first); a queue without a worker has them run on the caller, as above.
    bool waitUntilIdleFor(std::chrono::milliseconds limit);

    struct State;

private:
    uint64_t submit(std::function<void()> block, bool barrier);
    void runSync(std::function<void()> const& block, bool barrier);
    std::shared_ptr<State> state_;
};

}  // namespace platform
