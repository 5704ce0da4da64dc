#pragma once
// Whether the network can be reached, as reachability flags, and a watcher that reports when
// they change. The machine's interfaces are read with getifaddrs; changes are announced by the
// kernel's routing netlink socket (links and addresses coming and going).
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace platform {

class NetworkMonitor {
public:
    static constexpr uint32_t kTransientConnection = 0x1;
    static constexpr uint32_t kReachable = 0x2;
    static constexpr uint32_t kConnectionRequired = 0x4;
    static constexpr uint32_t kConnectionOnTraffic = 0x8;
    static constexpr uint32_t kInterventionRequired = 0x10;
    static constexpr uint32_t kConnectionOnDemand = 0x20;
    static constexpr uint32_t kIsLocalAddress = 0x10000;
    static constexpr uint32_t kIsDirect = 0x20000;
    static constexpr uint32_t kIsWWAN = 0x40000;

    // host empty: the internet at large (the zero address).
    explicit NetworkMonitor(std::string host = std::string());
    virtual ~NetworkMonitor();
    NetworkMonitor(NetworkMonitor const&) = delete;
    NetworkMonitor& operator=(NetworkMonitor const&) = delete;

    // None when the flags cannot be read.
    virtual std::optional<uint32_t> flags() const;
    // onChange runs on the watcher's own thread after each change of the flags. False when the
    // watcher cannot start.
    virtual bool start(std::function<void()> onChange);
    virtual void stop();

    // The flags for a list of interfaces: (name, up and running, loopback, has an address).
    struct Interface {
        std::string name;
        bool running;
        bool loopback;
        bool hasAddress;
    };
    static uint32_t flagsFor(Interface const* interfaces, size_t count);

private:
    void watch(std::function<void()> onChange);

    std::string host_;
    int socket_ = -1;
    int wake_ = -1;
    std::thread watcher_;
};

}  // namespace platform
