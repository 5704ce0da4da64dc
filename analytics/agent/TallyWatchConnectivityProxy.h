#pragma once
// Stands in the watch session's delegate slot for the host's own delegate. User info and finished
// transfers that are the agent's go to the agent's receiver and stop there; everything else
// reaches the host's delegate. The two filtered calls move onto the connectivity queue.
#include <memory>
#include <mutex>

#include "analytics/agent/TallyWatchConnectivityDelegate.h"
#include "platform/base/WatchSessionDelegate.h"

class TallyWatchConnectivityProxy : public platform::WatchSessionDelegate,
                                    public std::enable_shared_from_this<TallyWatchConnectivityProxy> {
public:
    explicit TallyWatchConnectivityProxy(std::weak_ptr<platform::WatchSessionDelegate> realObject = {});

    std::shared_ptr<platform::WatchSessionDelegate> realObject() const;
    void setRealObject(std::weak_ptr<platform::WatchSessionDelegate> realObject);
    std::shared_ptr<TallyWatchConnectivityDelegate> sdkDelegate() const;
    void setSdkDelegate(std::weak_ptr<TallyWatchConnectivityDelegate> delegate);

    void activationDidComplete(std::shared_ptr<platform::WatchSession> const& session, bool activated) override;
    void didReceiveUserInfo(std::shared_ptr<platform::WatchSession> const& session,
                            platform::Value::Dict const& userInfo) override;
    void didFinishUserInfoTransfer(std::shared_ptr<platform::WatchSession> const& session,
                                   std::shared_ptr<platform::WatchUserInfoTransfer> const& transfer,
                                   std::optional<platform::Error> const& error) override;

private:
    // The host's delegate to forward to; never the proxy itself.
    std::shared_ptr<platform::WatchSessionDelegate> forwardTarget(char const* operation);
    mutable std::mutex mutex_;
    std::weak_ptr<platform::WatchSessionDelegate> realObject_;
    std::weak_ptr<TallyWatchConnectivityDelegate> sdkDelegate_;
};
