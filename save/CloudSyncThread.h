#pragma once
// Keeps the local save file and the cloud copy of the save record in step on its own worker
// thread, so that no frame ever waits for it. Screens ask for a sync with send(); the app frame
// holds the worker back with suspend() while a level plays and lets it go with resume().
// A job that fails is tried again at once, at most five times in all; then it is given up and
// its kind stays pending (further sends of it are dropped) until a suspend() puts it back.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include <boost/optional.hpp>

#include "save/CloudSyncError.h"

class CloudSyncThread {
public:
    using UniqueMessage = uint8_t;
    static constexpr UniqueMessage kSyncRoamingData = 1;
    static constexpr uint64_t kMaxAttempts = 5;

    enum State : uint8_t { Idle = 0, Running = 1, Suspended = 2, IdleAfterGiveUp = 3 };

    struct Job {
        std::function<boost::optional<CloudSyncError>(CloudSyncThread*)> function;
        uint64_t attempts = 0;
    };
    struct FailedJob {
        std::function<boost::optional<CloudSyncError>(CloudSyncThread*)> function;
        CloudSyncError error;
    };
    // The work of one kind of message; none means success.
    using Work = std::function<boost::optional<CloudSyncError>(UniqueMessage)>;

    // Starts the worker; throws std::system_error when the thread cannot be started.
    CloudSyncThread();
    // With other work in place of the save-record sync (tests).
    explicit CloudSyncThread(Work work);
    // Stops the worker: a running job finishes first, queued jobs are dropped.
    ~CloudSyncThread();
    CloudSyncThread(CloudSyncThread const&) = delete;
    CloudSyncThread& operator=(CloudSyncThread const&) = delete;

    // Queues a job of that kind unless one is pending; returns at once.
    void send(UniqueMessage kind);
    // No job is taken until resume(); the oldest given-up job goes back into the queue.
    void suspend();
    // Lets the worker take jobs again; cheap enough to call every frame.
    void resume();

    // Merges the local file and the cloud copy and writes back whichever needs it.
    static boost::optional<CloudSyncError> syncRoamingData();

    State state() const { return static_cast<State>(state_.load(std::memory_order_acquire)); }
    bool isPending(UniqueMessage kind) const;
    size_t queuedJobs() const;
    size_t failedJobs() const;

private:
    void run();
    static boost::optional<CloudSyncError> defaultWork(UniqueMessage kind);

    Work work_;
    mutable std::mutex mutex_;
    std::atomic<uint8_t> state_{Idle};
    std::condition_variable wake_;
    std::set<UniqueMessage> pending_;
    std::deque<Job> queue_;
    std::deque<FailedJob> failed_;
    bool stopping_ = false;
    std::thread worker_;
};
