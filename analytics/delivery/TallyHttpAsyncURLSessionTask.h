#pragma once
// The session-based task class: each task delivers on a serial queue of its own, and redirects
// are followed up to the transport's hard cap without counting.
#include <memory>

#include "analytics/delivery/ITallyHttpAsyncTask.h"

class TallyURLSessionDelegate;

class TallyHttpAsyncURLSessionTask : public ITallyHttpAsyncTask,
                                     public std::enable_shared_from_this<TallyHttpAsyncURLSessionTask> {
public:
    static ITallyHttpAsyncTaskClass const& taskClass();

    // The loop is not used: results arrive on the task's own queue.
    void startInRunLoop(platform::SdkLoop& loop) override;
    void cancelTask() override;

private:
    friend class TallyHttpAsyncURLSessionTaskClass;
    void resume();
    std::shared_ptr<TallyURLSessionDelegate> task_;
};
