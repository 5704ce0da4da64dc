#pragma once
// The agent's use of the process's watch session: it puts a proxy in the session's delegate slot
// (and back there whenever the host puts its own delegate in), so the agent's user info is taken
// out and everything else still reaches the host. Every operation runs on one serial queue and
// returns at once.
#include <atomic>
#include <memory>
#include <mutex>

#include "analytics/agent/TallyWatchConnectivityDelegate.h"
#include "analytics/agent/TallyWatchConnectivityProxy.h"
#include "platform/base/Value.h"
#include "platform/base/WatchSession.h"
#include "platform/base/WorkQueue.h"

class TallyWatchConnectivity : public std::enable_shared_from_this<TallyWatchConnectivity> {
public:
    // Made once, over the default watch session; none when the process has no supported session.
    static std::shared_ptr<TallyWatchConnectivity> defaultConnectivty();
    // Forgets the shared instance (its proxy stays in the slot until the host replaces it); the
    // next call makes a new one.
    static void cleanup();
    static platform::WorkQueue& queue();
    ~TallyWatchConnectivity();

    void setup();
    void teardown();
    void transferUserInfo(platform::Value::Dict const& userInfo);
    void setDelegate(std::weak_ptr<TallyWatchConnectivityDelegate> delegate);
    void disableWatchConnectivity();
    void disableTransferTallyInfo();

    bool disabled() const { return disabled_; }
    bool disableTransferInfo() const { return disableTransferInfo_; }
    bool kvoSetup() const { return kvoSetup_; }
    std::shared_ptr<TallyWatchConnectivityProxy> const& connectivityProxy() const { return connectivityProxy_; }
    std::shared_ptr<platform::WatchSession> const& session() const { return session_; }

private:
    explicit TallyWatchConnectivity(std::shared_ptr<platform::WatchSession> session);
    // On the queue.
    void activateSession();
    void cacheAndReplaceSessionDelegate();
    void restoreCachedSessionDelegate();
    void setSessionDelegate(std::weak_ptr<platform::WatchSessionDelegate> delegate);
    void checkNewDelegate(std::shared_ptr<platform::WatchSessionDelegate> const& delegate);
    void setupKVO();
    void removeKVO();

    std::atomic<bool> disabled_{false}, disableTransferInfo_{false}, kvoSetup_{false};
    std::weak_ptr<TallyWatchConnectivityDelegate> delegate_;
    std::shared_ptr<platform::WatchSession> session_;
    std::shared_ptr<TallyWatchConnectivityProxy> connectivityProxy_;
};
