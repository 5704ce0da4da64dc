#pragma once
// A requester that records its end calls and the thread they arrive on, for the transport tests.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "analytics/delivery/ITallyHttpAsyncTask.h"
#include "analytics/delivery/TallyHTTPResponse.h"

namespace delivery_test {

class HttpRecorder : public TallyHttpAsyncTaskDelegate {
public:
    struct Call {
        std::string kind;  // "success", "fail", "cancel"
        std::shared_ptr<TallyHTTPResponse> response;
        std::thread::id thread;
    };

    void requestSuccessful(std::shared_ptr<ITallyHttpAsyncTask> const&, std::shared_ptr<TallyHTTPResponse> const& r) override {
        add("success", r);
    }
    void requestDidFail(std::shared_ptr<ITallyHttpAsyncTask> const&, std::shared_ptr<TallyHTTPResponse> const& r) override {
        add("fail", r);
    }
    void requestDidCancel(std::shared_ptr<ITallyHttpAsyncTask> const&, std::shared_ptr<TallyHTTPResponse> const& r) override {
        add("cancel", r);
    }

    // The first end call, waiting up to timeout; a call of kind "none" when none came.
    Call waitEnd(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [&] { return !calls_.empty(); })) return Call{"none", nullptr, {}};
        return calls_.front();
    }
    std::vector<Call> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void add(std::string kind, std::shared_ptr<TallyHTTPResponse> const& r) {
        std::lock_guard lock(mutex_);
        calls_.push_back(Call{std::move(kind), r, std::this_thread::get_id()});
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
};

}  // namespace delivery_test
