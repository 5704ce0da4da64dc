#pragma once
// One worker thread that runs the jobs given to it one at a time, in the order given, and between
// jobs calls an idle function at a fixed interval (the music stream is fed from there) for as long
// as it answers true; after a false it sleeps until the next job.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class SerialQueue {
public:
    // Throws std::system_error naming the queue when its thread cannot be started.
    SerialQueue(std::string name, std::chrono::milliseconds idleInterval, std::function<bool()> idle);
    // Runs the jobs still queued, then stops the thread.
    ~SerialQueue();
    SerialQueue(SerialQueue const&) = delete;
    SerialQueue& operator=(SerialQueue const&) = delete;

    void async(std::function<void()> job);
    // Runs job on the queue and returns when it has run. Called on the queue itself, runs it at once.
    void sync(std::function<void()> const& job);
    bool onQueue() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    std::string name_;
    std::chrono::milliseconds idleInterval_;
    std::function<bool()> idle_;
    bool polling_ = true;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};
