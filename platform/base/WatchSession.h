#pragma once
// One end of the link between an app and its counterpart on a paired watch. The process has at
// most one, installed by the host; without one there is no watch support. The delegate slot is
// held weakly and observed: observers hear every change, on the thread that made it.
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/Value.h"
#include "platform/base/WatchSessionDelegate.h"
#include "platform/base/WatchUserInfoTransfer.h"

namespace platform {

class WatchSession {
public:
    virtual ~WatchSession() = default;
    static std::shared_ptr<WatchSession> defaultSession();
    static void setDefaultSession(std::shared_ptr<WatchSession> session);

    virtual bool isSupported() const = 0;
    virtual bool isPaired() const = 0;
    virtual bool isWatchAppInstalled() const = 0;
    // Starts taking and delivering transfers; the delegate hears activationDidComplete.
    virtual void activateSession() = 0;
    // Queued for the counterpart, delivered in order; the sender's delegate hears when it is done.
    virtual std::shared_ptr<WatchUserInfoTransfer> transferUserInfo(Value::Dict const& userInfo) = 0;

    std::shared_ptr<WatchSessionDelegate> delegate() const;
    void setDelegate(std::weak_ptr<WatchSessionDelegate> delegate);
    using DelegateObserver = std::function<void(std::shared_ptr<WatchSessionDelegate> const& now)>;
    void observeDelegate(void const* owner, DelegateObserver observer);
    void stopObservingDelegate(void const* owner);

private:
    mutable std::mutex mutex_;
    std::weak_ptr<WatchSessionDelegate> delegate_;
    std::vector<std::pair<void const*, std::shared_ptr<DelegateObserver>>> observers_;
};

}  // namespace platform
