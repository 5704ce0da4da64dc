#include "analytics/delivery/TallyReachability.h"

#include <arpa/inet.h>

#include "platform/base/NotificationCenter.h"
#include "platform/base/SdkLoop.h"

using platform::NetworkMonitor;

namespace {

std::mutex factoryMutex;
TallyReachability::MonitorFactory& factory() {
    static auto* f = new TallyReachability::MonitorFactory;  // outlives the other statics
    return *f;
}

}  // namespace

void TallyReachability::setMonitorFactory(MonitorFactory f) {
    std::lock_guard lock(factoryMutex);
    factory() = std::move(f);
}

std::unique_ptr<NetworkMonitor> TallyReachability::makeMonitor(std::string const& host) {
    {
        std::lock_guard lock(factoryMutex);
        if (factory()) return factory()(host);
    }
    return std::make_unique<NetworkMonitor>(host);
}

TallyReachability::TallyReachability(std::unique_ptr<NetworkMonitor> monitor) : monitor_(std::move(monitor)) {}

TallyReachability::~TallyReachability() { tallyStopNotifier(); }

std::shared_ptr<TallyReachability> TallyReachability::tallyReachabilityWithHostName(std::string const& host) {
    auto monitor = makeMonitor(host);
    if (!monitor) return nullptr;
    auto r = std::make_shared<TallyReachability>(std::move(monitor));
    r->setKey(host);
    return r;
}

std::string TallyReachability::tallyMakeAddressKey(in_addr address) {
    auto const* b = reinterpret_cast<uint8_t const*>(&address.s_addr);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

std::shared_ptr<TallyReachability> TallyReachability::tallyReachabilityWithAddress(sockaddr_in const& address) {
    // The zero address stands for the internet at large; other addresses are watched by name.
    std::string const key = tallyMakeAddressKey(address.sin_addr);
    auto monitor = makeMonitor(address.sin_addr.s_addr == 0 ? std::string() : key);
    if (!monitor) return nullptr;
    auto r = std::make_shared<TallyReachability>(std::move(monitor));
    r->setKey(key);
    return r;
}

std::shared_ptr<TallyReachability> TallyReachability::tallyReachabilityForInternetConnection() {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    auto r = tallyReachabilityWithAddress(zero);
    if (r) r->setKey("InternetConnection");
    return r;
}

std::shared_ptr<TallyReachability> TallyReachability::tallyReachabilityForLocalWiFi() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(0xA9FE0000u);  // 169.254.0.0
    auto r = tallyReachabilityWithAddress(local);
    if (r) r->setKey("LocalWiFiConnection");
    return r;
}

std::string TallyReachability::key() const {
    std::lock_guard lock(mutex_);
    return key_;
}

void TallyReachability::setKey(std::string key) {
    std::lock_guard lock(mutex_);
    key_ = std::move(key);
}

bool TallyReachability::tallyStartNotifier() {
    if (!monitor_) return false;
    // The change callback holds the target weakly, as the platform does not retain its context.
    std::weak_ptr<TallyReachability> weak = weak_from_this();
    return monitor_->start([weak] {
        platform::SdkLoop::shared().post([weak] {
            if (auto self = weak.lock()) platform::NotificationCenter::shared().post(kChangedNotification, self.get());
        });
    });
}

void TallyReachability::tallyStopNotifier() {
    if (monitor_) monitor_->stop();
}

uint32_t TallyReachability::tallyReachabilityFlags() const {
    if (!monitor_) return 0;
    return monitor_->flags().value_or(0);
}

TallyReachability::Status TallyReachability::tallyNetworkStatusForFlags(uint32_t flags) const {
    if (!(flags & NetworkMonitor::kReachable)) return NotReachable;
    if (key() == "LocalWiFiConnection") return (flags & NetworkMonitor::kIsDirect) ? ReachableViaWiFi : NotReachable;
    if (flags & NetworkMonitor::kIsWWAN) return ReachableViaWWAN;
    uint32_t const rest = flags & ~(NetworkMonitor::kReachable | NetworkMonitor::kIsLocalAddress | NetworkMonitor::kIsDirect);
    if (rest == (NetworkMonitor::kTransientConnection | NetworkMonitor::kConnectionRequired)) return NotReachable;
    if (flags & NetworkMonitor::kTransientConnection) return ReachableViaWiFi;
    if (rest == 0) return ReachableViaWiFi;
    return (flags & NetworkMonitor::kConnectionRequired) ? ReachableViaWiFi : NotReachable;
}

TallyReachability::Status TallyReachability::tallyCurrentReachabilityStatus() const {
    if (!monitor_) return NotReachable;
    auto flags = monitor_->flags();
    return flags ? tallyNetworkStatusForFlags(*flags) : NotReachable;
}

bool TallyReachability::isTallyConnectionRequired() const {
    return (tallyReachabilityFlags() & NetworkMonitor::kConnectionRequired) != 0;
}

bool TallyReachability::isTallyConnectionOnDemand() const {
    uint32_t const f = tallyReachabilityFlags();
    return (f & NetworkMonitor::kConnectionRequired) &&
           (f & (NetworkMonitor::kConnectionOnTraffic | NetworkMonitor::kConnectionOnDemand));
}

bool TallyReachability::isTallyUserInterventionRequired() const {
    uint32_t const f = tallyReachabilityFlags();
    return (f & NetworkMonitor::kConnectionRequired) && (f & NetworkMonitor::kInterventionRequired);
}
