#include "analytics/delivery/TallyHttpAsyncURLSessionTask.h"

#include "analytics/delivery/TallyURLSessionDelegate.h"
#include "platform/base/WorkQueue.h"

class TallyHttpAsyncURLSessionTaskClass : public ITallyHttpAsyncTaskClass {
public:
    using ITallyHttpAsyncTaskClass::sendMethod;
    Task sendMethod(std::string const& method, std::string const& url, platform::Data body, HeaderFields const& headerFields,
                    double timeoutInterval, uint32_t, Delegate delegate, bool startImmediately) const override {
        auto task = std::make_shared<TallyHttpAsyncURLSessionTask>();
        auto request = HttpNetworkThread::Request::make(method, url, headerFields, std::move(body), timeoutInterval);
        task->task_ = std::make_shared<TallyURLSessionDelegate>(std::move(delegate), task, std::move(request));
        if (startImmediately) task->resume();
        return task;
    }
};

ITallyHttpAsyncTaskClass const& TallyHttpAsyncURLSessionTask::taskClass() {
    static auto const* instance = new TallyHttpAsyncURLSessionTaskClass;  // outlives the other statics
    return *instance;
}

void TallyHttpAsyncURLSessionTask::resume() {
    // The platform makes one serial delegate queue per session, and a session per task.
    auto queue = std::make_shared<platform::WorkQueue>("com.Tally.URLSessionDelegateQueue");
    task_->start([queue](std::function<void()> block) { queue->async(std::move(block)); }, 0, replyLimits());
}

void TallyHttpAsyncURLSessionTask::startInRunLoop(platform::SdkLoop&) { resume(); }

void TallyHttpAsyncURLSessionTask::cancelTask() { task_->cancel(); }
