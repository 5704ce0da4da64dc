#pragma once
// One reachability target over platform::NetworkMonitor, whose flags are the phone's reachability
// bits, turned into a three-valued status. Changes are announced as
// "TallyReachabilityChangedNotification" (with this object) on the SDK loop.
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/NetworkMonitor.h"

class TallyReachability : public std::enable_shared_from_this<TallyReachability> {
public:
    static constexpr char const* kChangedNotification = "TallyReachabilityChangedNotification";
    enum Status : int { NotReachable = 0, ReachableViaWiFi = 1, ReachableViaWWAN = 2 };

    // Tests put monitors with injected flags in place of the machine's (empty host: the internet).
    using MonitorFactory = std::function<std::unique_ptr<platform::NetworkMonitor>(std::string const& host)>;
    static void setMonitorFactory(MonitorFactory factory);

    static std::shared_ptr<TallyReachability> tallyReachabilityWithHostName(std::string const& host);
    static std::shared_ptr<TallyReachability> tallyReachabilityWithAddress(sockaddr_in const& address);
    static std::shared_ptr<TallyReachability> tallyReachabilityForInternetConnection();
    static std::shared_ptr<TallyReachability> tallyReachabilityForLocalWiFi();
    static std::string tallyMakeAddressKey(in_addr address);

    explicit TallyReachability(std::unique_ptr<platform::NetworkMonitor> monitor);
    ~TallyReachability();

    std::string key() const;
    void setKey(std::string key);

    bool tallyStartNotifier();
    void tallyStopNotifier();
    uint32_t tallyReachabilityFlags() const;  // 0 when unreadable
    Status tallyNetworkStatusForFlags(uint32_t flags) const;
    Status tallyCurrentReachabilityStatus() const;
    bool isTallyReachable() const { return tallyCurrentReachabilityStatus() != NotReachable; }
    bool isTallyReachableViaWiFi() const { return tallyCurrentReachabilityStatus() == ReachableViaWiFi; }
    bool isTallyReachableViaWWAN() const { return tallyCurrentReachabilityStatus() == ReachableViaWWAN; }
    bool isTallyConnectionRequired() const;
    bool isTallyConnectionOnDemand() const;
    bool isTallyUserInterventionRequired() const;
    bool isTallyReachabilityEqual(TallyReachability const& other) const { return key() == other.key(); }

private:
    static std::unique_ptr<platform::NetworkMonitor> makeMonitor(std::string const& host);
    std::unique_ptr<platform::NetworkMonitor> monitor_;
    mutable std::mutex mutex_;
    std::string key_;
};
