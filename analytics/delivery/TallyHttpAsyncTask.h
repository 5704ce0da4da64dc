#pragma once
// The connection-based task class: results arrive on the loop the task was started in (the SDK
// loop), redirects are counted against the task's limit.
#include <memory>

#include "analytics/delivery/ITallyHttpAsyncTask.h"

class TallyConnectionDelegate;

class TallyHttpAsyncTask : public ITallyHttpAsyncTask, public std::enable_shared_from_this<TallyHttpAsyncTask> {
public:
    // The class-level operations (get, post, sendMethod...).
    static ITallyHttpAsyncTaskClass const& taskClass();
    static double defaultTimeoutInterval() { return ITallyHttpAsyncTaskClass::kDefaultTimeoutInterval; }

    void startInRunLoop(platform::SdkLoop& loop) override;
    void cancelTask() override;
    std::shared_ptr<TallyConnectionDelegate> connection() const { return connection_; }

private:
    friend class TallyHttpAsyncTaskClass;
    std::shared_ptr<TallyConnectionDelegate> connection_;
};
