#include "platform/NetworkMonitor.h"

#include "platform/base/AlternateSignalStack.h"
#include "platform/base/ForkedChild.h"

#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>
#include <cstring>
#include <vector>

namespace platform {

NetworkMonitor::NetworkMonitor(std::string host) : host_(std::move(host)) {}

NetworkMonitor::~NetworkMonitor() { stop(); }

uint32_t NetworkMonitor::flagsFor(Interface const* interfaces, size_t count) {
    uint32_t flags = 0;
    bool wwanOnly = true;
    for (size_t i = 0; i < count; ++i) {
        Interface const& it = interfaces[i];
        if (!it.running || it.loopback || !it.hasAddress) continue;
        flags |= kReachable;
        // Mobile broadband modems show up under these names.
        bool const wwan = it.name.rfind("wwan", 0) == 0 || it.name.rfind("ppp", 0) == 0 ||
                          it.name.rfind("rmnet", 0) == 0;
        if (!wwan) wwanOnly = false;
    }
    if ((flags & kReachable) && wwanOnly) flags |= kIsWWAN;
    return flags;
}

std::optional<uint32_t> NetworkMonitor::flags() const {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    std::vector<Interface> interfaces;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_name) continue;
        bool const address = a->ifa_addr && (a->ifa_addr->sa_family == AF_INET || a->ifa_addr->sa_family == AF_INET6);
        interfaces.push_back(Interface{a->ifa_name, (a->ifa_flags & IFF_UP) && (a->ifa_flags & IFF_RUNNING),
                                       (a->ifa_flags & IFF_LOOPBACK) != 0, address});
    }
    freeifaddrs(list);
    uint32_t f = flagsFor(interfaces.data(), interfaces.size());
    if (!host_.empty() && (f & kReachable)) {
        // A host that does not resolve cannot be reached.
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* res = nullptr;
        if (getaddrinfo(host_.c_str(), nullptr, &hints, &res) != 0) return 0u;
        freeaddrinfo(res);
    }
    return f;
}

bool NetworkMonitor::start(std::function<void()> onChange) {
    if (socket_ >= 0) return true;
    socket_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (socket_ < 0) return false;
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE;
    wake_ = eventfd(0, EFD_CLOEXEC);
    if (bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || wake_ < 0) {
        std::fprintf(stderr, "Reachability: cannot watch the network: %s\n", std::strerror(errno));
        stop();
        return false;
    }
    if (isForkedChildWithoutThreads()) {
        stop();
        return false;
    }
    noteLibraryThreadStarting();
    try {
        watcher_ = std::thread([this, onChange = std::move(onChange)] {
            AlternateSignalStack::installForThisThread();
            watch(onChange);
        });
    } catch (std::system_error const& e) {
        std::fprintf(stderr, "Reachability: cannot watch the network: %s\n", e.what());
        stop();
        return false;
    }
    return true;
}

void NetworkMonitor::stop() {
    if (watcher_.joinable() && isForkedChildWithoutThreads()) {
        // The watcher stayed with the parent, which shares the wake-up: neither is touched.
        watcher_.detach();
    } else if (watcher_.joinable()) {
        uint64_t one = 1;
        if (write(wake_, &one, sizeof one) < 0) {
        }
        watcher_.join();
    }
    if (socket_ >= 0) close(socket_);
    if (wake_ >= 0) close(wake_);
    socket_ = wake_ = -1;
}

void NetworkMonitor::watch(std::function<void()> onChange) {
    std::optional<uint32_t> last = flags();
    char buf[8192];
    for (;;) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        // The messages' contents do not matter: any change means reading the flags again.
        while (recv(socket_, buf, sizeof buf, MSG_DONTWAIT) > 0) {
        }
        std::optional<uint32_t> now = flags();
        if (now != last) {
            last = now;
            if (onChange) onChange();
        }
    }
}

}  // namespace platform
