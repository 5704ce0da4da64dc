#pragma once
// The watch link inside one process: two ends, a phone app's and its watch app's, joined by a
// message channel with a thread of its own. What one end transfers reaches the other end's
// delegate on that thread, in order, once the other end is activated; transfers wait until then.
// Once activated, an end counts as paired while the other end exists, and sees the watch app
// installed once the other end has been activated too. An end that is not activated knows of no
// pairing and transfers nothing: its transfer finishes with an error.
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/base/WatchSession.h"
#include "platform/base/WorkQueue.h"

namespace platform {

class InProcessWatchSession : public WatchSession, public std::enable_shared_from_this<InProcessWatchSession> {
public:
    static constexpr char const* kErrorDomain = "WCErrorDomain";
    static constexpr int64_t kNotActivated = 7004, kNotPaired = 7005;
    // The phone end first, the watch end second.
    static std::pair<std::shared_ptr<InProcessWatchSession>, std::shared_ptr<InProcessWatchSession>> pair();
    ~InProcessWatchSession() override;

    bool isSupported() const override { return true; }
    bool isPaired() const override;
    bool isWatchAppInstalled() const override;
    void activateSession() override;
    std::shared_ptr<WatchUserInfoTransfer> transferUserInfo(Value::Dict const& userInfo) override;
    // Waits until everything handed to the channel so far has been delivered.
    void flush();

private:
    struct Link;
    InProcessWatchSession(std::shared_ptr<Link> link, int side);
    void deliver(std::shared_ptr<WatchUserInfoTransfer> transfer);
    void fail(std::shared_ptr<WatchUserInfoTransfer> transfer, int64_t code);
    std::shared_ptr<Link> link_;
    int side_;
};

}  // namespace platform
