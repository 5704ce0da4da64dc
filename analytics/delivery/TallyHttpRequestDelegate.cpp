#include "analytics/delivery/TallyHttpRequestDelegate.h"

#include <algorithm>

#include "analytics/delivery/TallyDeliveryAgent.h"

TallyHttpRequestDelegate::TallyHttpRequestDelegate(std::shared_ptr<TallyHttpAsyncTaskDelegate> requester,
                                                   std::weak_ptr<ITallyHttpAsyncTask> task,
                                                   HttpNetworkThread::Request request)
    : originalRequest_(std::move(request)), httpTaskDelegate_(std::move(requester)), weakTask_(std::move(task)) {}

platform::Error TallyHttpRequestDelegate::errorFor(HttpNetworkThread::Failure const& failure) {
    platform::Error e;
    e.domain = kURLErrorDomain;
    e.code = failure.code;
    e.userInfo["NSLocalizedDescription"] = failure.message;
    return e;
}

void TallyHttpRequestDelegate::start(Executor executor, int32_t redirectsLimit,
                                     ITallyHttpAsyncTask::ReplyLimits const& limits) {
    HttpNetworkThread::Request request;
    {
        std::lock_guard lock(mutex_);
        if (started_ || silenced_) return;
        started_ = true;
        executor_ = std::move(executor);
        // The running request keeps its task, and so its requester, alive.
        httpTask_ = weakTask_.lock();
        request = originalRequest_;
    }
    request.redirectsLimit = redirectsLimit;
    request.maxBodyBytes = limits.maxBodyBytes;
    request.keepFirstBytesOnly = limits.keepFirstBytesOnly;
    request.deadline = std::chrono::milliseconds(int64_t(std::max(0.0, limits.deadlineSeconds) * 1000.0));
    uint64_t id = HttpNetworkThread::instance().start(std::move(request), shared_from_this());
    std::lock_guard lock(mutex_);
    transfer_ = id;
}

void TallyHttpRequestDelegate::stopTransfer() {
    uint64_t id;
    {
        std::lock_guard lock(mutex_);
        id = transfer_;
    }
    if (id) HttpNetworkThread::instance().cancel(id);
}

void TallyHttpRequestDelegate::post(std::function<void()> block) {
    Executor executor;
    {
        std::lock_guard lock(mutex_);
        executor = executor_;
    }
    if (executor) executor(std::move(block));
}

void TallyHttpRequestDelegate::didReceiveResponse(int32_t status, HttpNetworkThread::Headers const& headers) {
    post([self = shared_from_this(), status, headers] {
        self->response_ = TallyHTTPResponse::PlatformResponse{status, headers};
        tally_delivery::log(2, "Tally: HTTP connection delegate received response[" + std::to_string(status) + "]");
    });
}

void TallyHttpRequestDelegate::didReceiveData(std::vector<uint8_t> chunk) {
    post([self = shared_from_this(), chunk = std::move(chunk)] {
        self->body_.insert(self->body_.end(), chunk.begin(), chunk.end());
    });
}

void TallyHttpRequestDelegate::didFollowRedirect(int32_t count, bool droppedBody) {
    post([self = shared_from_this(), count, droppedBody] {
        if (droppedBody)
            if (auto t = self->task()) t->setRedirectDroppedBody(true);
        self->redirected(count);
    });
}

void TallyHttpRequestDelegate::didFinish() {
    post([self = shared_from_this()] {
        if (!self->done_) self->finished();
    });
}

void TallyHttpRequestDelegate::didFail(HttpNetworkThread::Failure failure) {
    post([self = shared_from_this(), error = errorFor(failure)] {
        if (!self->done_) self->failed(error);
    });
}

std::shared_ptr<TallyHTTPResponse> TallyHttpRequestDelegate::constructResponse() const {
    return TallyHTTPResponse::initWithResponse(response_, body_, error_);
}

void TallyHttpRequestDelegate::end(End how) {
    if (done_.exchange(true)) return;
    std::shared_ptr<ITallyHttpAsyncTask> task;
    {
        std::lock_guard lock(mutex_);
        task = std::move(httpTask_);
    }
    if (!task) task = weakTask_.lock();
    auto requester = std::move(httpTaskDelegate_);
    if (silenced_ || !requester) return;
    auto response = constructResponse();
    switch (how) {
        case End::Success: requester->requestSuccessful(task, response); break;
        case End::Fail: requester->requestDidFail(task, response); break;
        case End::Cancel: requester->requestDidCancel(task, response); break;
    }
}

std::shared_ptr<ITallyHttpAsyncTask> TallyHttpRequestDelegate::task() const {
    std::lock_guard lock(mutex_);
    return httpTask_ ? httpTask_ : weakTask_.lock();
}
