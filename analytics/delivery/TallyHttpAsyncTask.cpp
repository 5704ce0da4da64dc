#include "analytics/delivery/TallyHttpAsyncTask.h"

#include "analytics/delivery/TallyConnectionDelegate.h"
#include "platform/base/SdkLoop.h"

class TallyHttpAsyncTaskClass : public ITallyHttpAsyncTaskClass {
public:
    using ITallyHttpAsyncTaskClass::sendMethod;
    Task sendMethod(std::string const& method, std::string const& url, platform::Data body, HeaderFields const& headerFields,
                    double timeoutInterval, uint32_t, Delegate delegate, bool startImmediately) const override {
        auto task = std::make_shared<TallyHttpAsyncTask>();
        auto request = HttpNetworkThread::Request::make(method, url, headerFields, std::move(body), timeoutInterval);
        task->connection_ = std::make_shared<TallyConnectionDelegate>(std::move(delegate), task, std::move(request));
        if (startImmediately) task->startInRunLoop(platform::SdkLoop::shared());
        return task;
    }
};

ITallyHttpAsyncTaskClass const& TallyHttpAsyncTask::taskClass() {
    static auto const* instance = new TallyHttpAsyncTaskClass;  // outlives the other statics
    return *instance;
}

void TallyHttpAsyncTask::startInRunLoop(platform::SdkLoop& loop) {
    connection_->start([&loop](std::function<void()> block) { loop.post(std::move(block)); }, redirectsLimit(), replyLimits());
}

void TallyHttpAsyncTask::cancelTask() { connection_->cancel(); }
