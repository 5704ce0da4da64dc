#include "analytics/agent/TallyActor.h"

#include <exception>
#include <mutex>

namespace {

// Guards every actor's active thread; never held while a block runs.
std::mutex& activeMutex() {
    static std::mutex m;
    return m;
}

thread_local TallyActor* tCurrentActor = nullptr;

// Marks the running thread on the actor and the actor on the thread, and puts both back after,
// so nested calls leave the outer values in place.
class Running {
public:
    Running(TallyActor* actor, std::thread::id& active, std::thread::id thread)
        : active_(active), savedActor_(tCurrentActor) {
        tCurrentActor = actor;
        std::lock_guard<std::mutex> lock(activeMutex());
        savedThread_ = active_;
        active_ = thread;
    }
    ~Running() {
        {
            std::lock_guard<std::mutex> lock(activeMutex());
            active_ = savedThread_;
        }
        tCurrentActor = savedActor_;
    }

private:
    std::thread::id& active_;
    std::thread::id savedThread_;
    TallyActor* savedActor_;
};

}  // namespace

TallyActor::TallyActor(std::string const& description)
    : queue_(std::make_unique<platform::WorkQueue>(description, platform::WorkQueue::Kind::Serial)) {}

TallyActor* TallyActor::current() { return tCurrentActor; }

std::thread::id TallyActor::activeThread() const {
    std::lock_guard<std::mutex> lock(activeMutex());
    return activeThread_;
}

void TallyActor::syncBlock(std::function<void()> const& block) {
    if (!block) return;
    std::thread::id const caller = std::this_thread::get_id();
    std::exception_ptr thrown;
    auto wrapped = [&] {
        Running running(this, activeThread_, caller);
        try {
            block();
        } catch (...) {
            thrown = std::current_exception();
        }
    };
    if (activeThread() == caller)
        wrapped();
    else
        queue_->syncBarrier(wrapped);
    if (thrown) std::rethrow_exception(thrown);
}

void TallyActor::asyncBlock(std::function<void()> block) {
    if (!block) return;
    queue_->asyncBarrier([this, block = std::move(block)] {
        Running running(this, activeThread_, std::this_thread::get_id());
        block();
    });
}
