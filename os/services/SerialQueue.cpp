#include "os/services/SerialQueue.h"

#include "platform/base/AlternateSignalStack.h"

#include <pthread.h>

#include <system_error>

SerialQueue::SerialQueue(std::string name, std::chrono::milliseconds idleInterval, std::function<bool()> idle)
    : name_(std::move(name)), idleInterval_(idleInterval), idle_(std::move(idle)) {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (std::system_error const& e) {
        throw std::system_error(e.code(), "cannot start the " + name_ + " thread");
    }
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void SerialQueue::async(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void SerialQueue::sync(std::function<void()> const& job) {
    if (onQueue()) {
        job();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneWake;
    bool done = false;
    async([&] {
        job();
        std::lock_guard<std::mutex> lock(doneMutex);
        done = true;
        doneWake.notify_one();
    });
    std::unique_lock<std::mutex> lock(doneMutex);
    doneWake.wait(lock, [&] { return done; });
}

void SerialQueue::run() {
    platform::AlternateSignalStack::installForThisThread();
    // Thread names are limited to 15 characters.
    pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (jobs_.empty() && !stopping_) {
            if (polling_ && idle_)
                wake_.wait_for(lock, idleInterval_);
            else
                wake_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
        }
        if (!jobs_.empty()) {
            polling_ = true;  // a job may have started something to feed
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
            continue;
        }
        if (stopping_) return;
        if (idle_) {
            lock.unlock();
            bool const again = idle_();
            lock.lock();
            polling_ = again;
        }
    }
}
