#include "save/CloudSyncThread.h"

#include "platform/base/AlternateSignalStack.h"

#include <pthread.h>

#include <cstdio>
#include <system_error>
#include <exception>

#include "save/RoamingDataFile.h"
#include "save/RoamingDataKeyValueStore.h"

CloudSyncThread::CloudSyncThread() : CloudSyncThread(Work(defaultWork)) {}

CloudSyncThread::CloudSyncThread(Work work) : work_(std::move(work)) {
    try {
        worker_ = std::thread([this] { run(); });
    } catch (std::system_error const& e) {
        throw std::system_error(e.code(), "cannot start the cloud sync thread");
    }
}

CloudSyncThread::~CloudSyncThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

boost::optional<CloudSyncError> CloudSyncThread::defaultWork(UniqueMessage kind) {
    if (kind == kSyncRoamingData) {
        return syncRoamingData();
    }
    return boost::none;  // other kinds have no work
}

boost::optional<CloudSyncError> CloudSyncThread::syncRoamingData() {
    boost::optional<CloudSyncError> result = CloudSyncError::StoreUnavailable;
    {
        // The key-value accessor first, the file accessor inside it: the one lock order.
        RoamingDataKeyValueStore store(result);
        if (!result) {
            RoamingDataFile file("roamingData");
            RoamingData::merge(file.data, store.data);
        }
    }
    return result;
}

void CloudSyncThread::send(UniqueMessage kind) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pending_.insert(kind).second) {
            return;
        }
    }
    Job job;
    job.function = [kind](CloudSyncThread* self) -> boost::optional<CloudSyncError> {
        boost::optional<CloudSyncError> result = self->work_(kind);
        if (!result) {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->pending_.erase(kind);
        }
        return result;
    };
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void CloudSyncThread::suspend() {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.store(Suspended, std::memory_order_release);
    if (!failed_.empty()) {
        queue_.push_back(Job{std::move(failed_.front().function), 0});
        failed_.pop_front();
    }
}

void CloudSyncThread::resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!queue_.empty()) {
        wake_.notify_one();
    }
    state_.store(Idle, std::memory_order_release);
}

bool CloudSyncThread::isPending(UniqueMessage kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.count(kind) != 0;
}

size_t CloudSyncThread::queuedJobs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

size_t CloudSyncThread::failedJobs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_.size();
}

void CloudSyncThread::run() {
    platform::AlternateSignalStack::installForThisThread();
    pthread_setname_np(pthread_self(), "CloudSyncThread");
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] {
            return stopping_ || (!queue_.empty() && state_.load(std::memory_order_acquire) != Suspended);
        });
        if (stopping_) {
            return;
        }
        Job job = std::move(queue_.front());
        queue_.pop_front();
        state_.store(Running, std::memory_order_release);
        lock.unlock();

        boost::optional<CloudSyncError> error;
        try {
            error = job.function(this);
        } catch (std::exception const& e) {
            std::fprintf(stderr, "CloudSyncThread: job failed: %s\n", e.what());
            error = CloudSyncError::StoreUnavailable;
        }

        lock.lock();
        bool const suspended = state_.load(std::memory_order_acquire) == Suspended;
        if (!error) {
            if (queue_.empty() && !suspended) {
                state_.store(Idle, std::memory_order_release);
            }
        } else if (++job.attempts < kMaxAttempts) {
            queue_.push_back(std::move(job));
        } else {
            failed_.push_back(FailedJob{std::move(job.function), *error});
            if (queue_.empty() && !suspended) {
                state_.store(IdleAfterGiveUp, std::memory_order_release);
            }
        }
    }
}
