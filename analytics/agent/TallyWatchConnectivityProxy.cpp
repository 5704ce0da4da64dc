#include "analytics/agent/TallyWatchConnectivityProxy.h"

#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/TallyWatchConnectivity.h"

TallyWatchConnectivityProxy::TallyWatchConnectivityProxy(std::weak_ptr<platform::WatchSessionDelegate> realObject)
    : realObject_(std::move(realObject)) {}

std::shared_ptr<platform::WatchSessionDelegate> TallyWatchConnectivityProxy::realObject() const {
    std::lock_guard lock(mutex_);
    return realObject_.lock();
}

void TallyWatchConnectivityProxy::setRealObject(std::weak_ptr<platform::WatchSessionDelegate> realObject) {
    std::lock_guard lock(mutex_);
    realObject_ = std::move(realObject);
}

std::shared_ptr<TallyWatchConnectivityDelegate> TallyWatchConnectivityProxy::sdkDelegate() const {
    std::lock_guard lock(mutex_);
    return sdkDelegate_.lock();
}

void TallyWatchConnectivityProxy::setSdkDelegate(std::weak_ptr<TallyWatchConnectivityDelegate> delegate) {
    std::lock_guard lock(mutex_);
    sdkDelegate_ = std::move(delegate);
}

std::shared_ptr<platform::WatchSessionDelegate> TallyWatchConnectivityProxy::forwardTarget(char const* operation) {
    auto real = realObject();
    if (real.get() != this) return real;
    // Forwarding to itself would never end.
    TallyUtil::log(1, std::string(operation) + ", invalid state");
    setRealObject({});
    return nullptr;
}

void TallyWatchConnectivityProxy::activationDidComplete(std::shared_ptr<platform::WatchSession> const& session,
                                                        bool activated) {
    TallyUtil::guarded([&] {
        if (auto real = forwardTarget("-[TallyWatchConnectivityProxy respondsToSelector:]"))
            real->activationDidComplete(session, activated);
    });
}

void TallyWatchConnectivityProxy::didReceiveUserInfo(std::shared_ptr<platform::WatchSession> const& session,
                                                     platform::Value::Dict const& userInfo) {
    std::weak_ptr<TallyWatchConnectivityProxy> self = weak_from_this();
    TallyWatchConnectivity::queue().async([self, session, userInfo] {
        TallyUtil::guarded([&] {
            auto me = self.lock();
            if (!me) return;
            if (auto sdk = me->sdkDelegate(); sdk && sdk->didReceiveUserInfo(userInfo)) return;
            if (auto real = me->forwardTarget("-[TallyWatchConnectivityProxy respondsToSelector:]"))
                real->didReceiveUserInfo(session, userInfo);
        });
    });
}

void TallyWatchConnectivityProxy::didFinishUserInfoTransfer(std::shared_ptr<platform::WatchSession> const& session,
                                                            std::shared_ptr<platform::WatchUserInfoTransfer> const& transfer,
                                                            std::optional<platform::Error> const& error) {
    std::weak_ptr<TallyWatchConnectivityProxy> self = weak_from_this();
    TallyWatchConnectivity::queue().async([self, session, transfer, error] {
        TallyUtil::guarded([&] {
            auto me = self.lock();
            if (!me) return;
            // The session that sent it may be gone before its transfer finishes (a new session has
            // just replaced it): the transfer is still the agent's, not the host's.
            auto const sdk = me->sdkDelegate();
            if (transfer && (sdk ? sdk->isTallyUserInfo(transfer->userInfo)
                                 : TallyWatchConnectivityDelegate::hasTallyKeys(transfer->userInfo)))
                return;
            if (auto real = me->forwardTarget("-[TallyWatchConnectivityProxy respondsToSelector:]"))
                real->didFinishUserInfoTransfer(session, transfer, error);
        });
    });
}
