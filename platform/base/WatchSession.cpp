#include "platform/base/WatchSession.h"

namespace platform {

namespace {
std::mutex defaultLock;
std::shared_ptr<WatchSession>& defaultSlot() {
    static auto* s = new std::shared_ptr<WatchSession>;  // outlives the other statics
    return *s;
}
}  // namespace

std::shared_ptr<WatchSession> WatchSession::defaultSession() {
    std::lock_guard lock(defaultLock);
    return defaultSlot();
}

void WatchSession::setDefaultSession(std::shared_ptr<WatchSession> session) {
    std::lock_guard lock(defaultLock);
    defaultSlot() = std::move(session);
}

std::shared_ptr<WatchSessionDelegate> WatchSession::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void WatchSession::setDelegate(std::weak_ptr<WatchSessionDelegate> delegate) {
    std::vector<std::shared_ptr<DelegateObserver>> observers;
    {
        std::lock_guard lock(mutex_);
        delegate_ = delegate;
        for (auto const& [owner, o] : observers_) observers.push_back(o);
    }
    // Outside the lock: an observer may read or set the slot itself.
    auto const now = delegate.lock();
    for (auto const& o : observers) (*o)(now);
}

void WatchSession::observeDelegate(void const* owner, DelegateObserver observer) {
    std::lock_guard lock(mutex_);
    observers_.emplace_back(owner, std::make_shared<DelegateObserver>(std::move(observer)));
}

void WatchSession::stopObservingDelegate(void const* owner) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [owner](auto const& e) { return e.first == owner; });
}

}  // namespace platform
