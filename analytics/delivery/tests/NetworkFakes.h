// Network stand-ins shared by the delivery tests: a port nothing listens on, and a network
// monitor whose flags the test sets.
#pragma once
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/delivery/TallyReachability.h"
#include "platform/NetworkMonitor.h"

namespace delivery_test {

// A loopback port just closed: connecting to it fails at once.
inline int closedLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

inline std::string closedLoopbackUrl(std::string const& path) {
    return "http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + path;
}

// Changes reach the watchers as the kernel's would.
class FakeMonitor : public platform::NetworkMonitor {
public:
    static inline std::atomic<uint32_t> flagsNow{platform::NetworkMonitor::kReachable};
    static inline std::atomic<int> started{0};
    static inline std::mutex mutex;
    static inline std::vector<std::function<void()>> watchers;

    std::optional<uint32_t> flags() const override { return flagsNow.load(); }
    bool start(std::function<void()> onChange) override {
        ++started;
        std::lock_guard lock(mutex);
        watchers.push_back(std::move(onChange));
        return true;
    }
    void stop() override {}

    static void change(uint32_t flags) {
        flagsNow = flags;
        std::vector<std::function<void()>> w;
        {
            std::lock_guard lock(mutex);
            w = watchers;
        }
        for (auto& f : w) f();
    }
};

// Reachability objects made while this lives watch a FakeMonitor.
struct FakeMonitorInjected {
    FakeMonitorInjected() {
        TallyReachability::setMonitorFactory([](std::string const&) { return std::make_unique<FakeMonitor>(); });
    }
    ~FakeMonitorInjected() { TallyReachability::setMonitorFactory(nullptr); }
};

}  // namespace delivery_test
