#pragma once
// What the connection and session delegates share: one request's state between the network
// thread and the requester. Every event of the network thread is re-posted to the delegate's
// executor, so the requester sees response, data, then one end call on that executor.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "analytics/delivery/HttpNetworkThread.h"
#include "analytics/delivery/ITallyHttpAsyncTask.h"
#include "analytics/delivery/TallyHTTPResponse.h"
#include "platform/base/Value.h"

class TallyHttpRequestDelegate : public HttpNetworkThread::Listener,
                                 public std::enable_shared_from_this<TallyHttpRequestDelegate> {
public:
    using Executor = std::function<void(std::function<void()>)>;
    static constexpr char const* kURLErrorDomain = "NSURLErrorDomain";

    TallyHttpRequestDelegate(std::shared_ptr<TallyHttpAsyncTaskDelegate> requester,
                             std::weak_ptr<ITallyHttpAsyncTask> task, HttpNetworkThread::Request request);

    // Sends the request; results go through executor. Later calls do nothing.
    void start(Executor executor, int32_t redirectsLimit, ITallyHttpAsyncTask::ReplyLimits const& limits);
    bool isDone() const { return done_.load(); }
    HttpNetworkThread::Request const& originalRequest() const { return originalRequest_; }

    // On the network thread.
    void didReceiveResponse(int32_t status, HttpNetworkThread::Headers const& headers) override;
    void didReceiveData(std::vector<uint8_t> chunk) override;
    void didFollowRedirect(int32_t count, bool droppedBody) override;
    void didFinish() override;
    void didFail(HttpNetworkThread::Failure failure) override;

    static platform::Error errorFor(HttpNetworkThread::Failure const& failure);

protected:
    // On the executor.
    virtual void finished() = 0;
    virtual void failed(platform::Error error) = 0;
    virtual void redirected(int32_t) {}

    void post(std::function<void()> block);
    std::shared_ptr<TallyHTTPResponse> constructResponse() const;
    // Marks the request done and hands the response to the requester's end call.
    enum class End { Success, Fail, Cancel };
    void end(End how);
    void stopTransfer();
    std::shared_ptr<ITallyHttpAsyncTask> task() const;

    std::atomic<bool> done_{false};
    std::atomic<bool> silenced_{false};  // no requester call follows
    int32_t redirectCount_ = 0;
    HttpNetworkThread::Request originalRequest_;
    std::optional<TallyHTTPResponse::PlatformResponse> response_;
    platform::Data body_;
    std::optional<platform::Error> error_;
    std::shared_ptr<TallyHttpAsyncTaskDelegate> httpTaskDelegate_;

private:
    mutable std::mutex mutex_;
    std::weak_ptr<ITallyHttpAsyncTask> weakTask_;
    std::shared_ptr<ITallyHttpAsyncTask> httpTask_;  // held while the request runs
    Executor executor_;
    uint64_t transfer_ = 0;
    bool started_ = false;
};
