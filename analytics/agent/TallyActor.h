#pragma once
// A small serializer on one serial queue. A sync call from inside a block already running on the
// actor runs inline; an exception thrown by a sync block is thrown again in the caller.
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/base/WorkQueue.h"

class TallyActor {
public:
    explicit TallyActor(std::string const& description);
    TallyActor(TallyActor const&) = delete;
    TallyActor& operator=(TallyActor const&) = delete;

    void syncBlock(std::function<void()> const& block);
    void asyncBlock(std::function<void()> block);

    // The actor whose block this thread is running, or none.
    static TallyActor* current();
    // The thread running a block of this actor, or none (a default id) when idle.
    std::thread::id activeThread() const;
    platform::WorkQueue& queue() { return *queue_; }

private:
    std::unique_ptr<platform::WorkQueue> queue_;
    std::thread::id activeThread_;
};
