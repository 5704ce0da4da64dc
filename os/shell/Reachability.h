#pragma once
// Watches whether the network can be reached and posts kNetworkReachabilityChangedNotification
// (on the main thread, with this object) whenever the flags of its target change.
#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/NetworkMonitor.h"

namespace os {

class Reachability {
public:
    static constexpr char const* kChangedNotification = "kNetworkReachabilityChangedNotification";
    enum NetworkStatus : int { NotReachable = 0, ReachableViaWiFi = 1, ReachableViaWWAN = 2 };

    static std::unique_ptr<Reachability> reachabilityWithHostName(std::string const& host);
    static std::unique_ptr<Reachability> reachabilityWithAddress(sockaddr_in const& address);
    // The zero address: the internet at large.
    static std::unique_ptr<Reachability> reachabilityForInternetConnection();

    explicit Reachability(std::unique_ptr<platform::NetworkMonitor> monitor);
    ~Reachability();

    bool startNotifier();
    void stopNotifier();
    bool connectionRequired() const;
    NetworkStatus currentReachabilityStatus() const;
    // Logs the flag line, then maps the flags to a status.
    static NetworkStatus networkStatusForFlags(uint32_t flags);
    // "Reachability Flag Status: WR tcCiDld networkStatusForFlags" with '-' for clear flags.
    static std::string flagLine(uint32_t flags);

private:
    std::unique_ptr<platform::NetworkMonitor> monitor_;
    // Lets a queued notification find out that this object is gone.
    std::shared_ptr<Reachability*> self_;
};

}  // namespace os
