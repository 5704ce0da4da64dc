#include "os/shell/Reachability.h"

#include <arpa/inet.h>

#include <cstdio>

#include "os/shell/MainQueue.h"
#include "platform/base/NotificationCenter.h"

namespace os {

using platform::NetworkMonitor;

std::unique_ptr<Reachability> Reachability::reachabilityWithHostName(std::string const& host) {
    if (host.empty()) return nullptr;
    return std::make_unique<Reachability>(std::make_unique<NetworkMonitor>(host));
}

std::unique_ptr<Reachability> Reachability::reachabilityWithAddress(sockaddr_in const& address) {
    if (address.sin_family != AF_INET) return nullptr;
    std::string host;
    if (address.sin_addr.s_addr != 0) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
        host = text;
    }
    return std::make_unique<Reachability>(std::make_unique<NetworkMonitor>(host));
}

std::unique_ptr<Reachability> Reachability::reachabilityForInternetConnection() {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    return reachabilityWithAddress(zero);
}

Reachability::Reachability(std::unique_ptr<NetworkMonitor> monitor)
    : monitor_(std::move(monitor)), self_(std::make_shared<Reachability*>(this)) {}

Reachability::~Reachability() { stopNotifier(); }

bool Reachability::startNotifier() {
    if (!monitor_) return false;
    std::weak_ptr<Reachability*> self = self_;
    return monitor_->start([self] {
        MainQueue::shared().async([self] {
            if (auto alive = self.lock())
                platform::NotificationCenter::shared().post(kChangedNotification, *alive);
        });
    });
}

void Reachability::stopNotifier() {
    if (monitor_) monitor_->stop();
}

bool Reachability::connectionRequired() const {
    if (!monitor_) {
        std::fprintf(stderr, "connectionRequired called with NULL reachabilityRef\n");
        return false;
    }
    auto f = monitor_->flags();
    return f && (*f & NetworkMonitor::kConnectionRequired);
}

Reachability::NetworkStatus Reachability::currentReachabilityStatus() const {
    if (!monitor_) {
        std::fprintf(stderr, "currentNetworkStatus called with NULL SCNetworkReachabilityRef\n");
        return NotReachable;
    }
    auto f = monitor_->flags();
    return f ? networkStatusForFlags(*f) : NotReachable;
}

std::string Reachability::flagLine(uint32_t f) {
    auto c = [f](uint32_t bit, char letter) { return (f & bit) ? letter : '-'; };
    char line[128];
    std::snprintf(line, sizeof line, "Reachability Flag Status: %c%c %c%c%c%c%c%c%c %s\n",
                  c(NetworkMonitor::kIsWWAN, 'W'), c(NetworkMonitor::kReachable, 'R'),
                  c(NetworkMonitor::kTransientConnection, 't'), c(NetworkMonitor::kConnectionRequired, 'c'),
                  c(NetworkMonitor::kConnectionOnTraffic, 'C'), c(NetworkMonitor::kInterventionRequired, 'i'),
                  c(NetworkMonitor::kConnectionOnDemand, 'D'), c(NetworkMonitor::kIsLocalAddress, 'l'),
                  c(NetworkMonitor::kIsDirect, 'd'), "networkStatusForFlags");
    return line;
}

Reachability::NetworkStatus Reachability::networkStatusForFlags(uint32_t f) {
    std::fputs(flagLine(f).c_str(), stderr);
    if (!(f & NetworkMonitor::kReachable)) return NotReachable;
    if (f & NetworkMonitor::kIsWWAN) return ReachableViaWWAN;
    if ((f & (NetworkMonitor::kConnectionOnTraffic | NetworkMonitor::kConnectionOnDemand)) &&
        !(f & NetworkMonitor::kInterventionRequired))
        return ReachableViaWiFi;
    return (f & NetworkMonitor::kConnectionRequired) ? NotReachable : ReachableViaWiFi;
}

}  // namespace os
