#pragma once
// Events logged before the first session exists, waiting to be recorded into it. One lock is
// held while an event is either recorded or cached, and while a session is made from the list,
// so no event falls between the two.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Value.h"

class TallyPreCacheEvent {
public:
    TallyPreCacheEvent(std::string eventName, std::optional<platform::Value::Dict> const& params, bool timed)
        : eventName_(std::move(eventName)), params_(params), timed_(timed) {}
    std::string const& eventName() const { return eventName_; }
    std::optional<platform::Value::Dict> const& params() const { return params_; }
    bool timed() const { return timed_; }

private:
    std::string eventName_;
    std::optional<platform::Value::Dict> params_;
    bool timed_;
};

// The waiting events, oldest first, and whether any was refused since the list was last taken:
// the session made from it then knows its event log is not complete.
class TallyPreCachedEvents : public std::vector<TallyPreCacheEvent> {
public:
    using std::vector<TallyPreCacheEvent>::vector;
    bool dropped = false;
};

class TallyPreCacheEventManager {
public:
    using PreCacheLog = TallyPreCachedEvents;
    // Held at most, as many as a paused session holds: beyond that an event is dropped.
    static constexpr size_t kMaxEvents = 1000;
    static std::shared_ptr<TallyPreCacheEventManager> sharedInstance();
    // Runs the block with the list, under the manager's lock; a block must not call it again.
    template <class F>
    auto processWriteSync(F&& block) {
        std::lock_guard<std::mutex> lock(mutex_);
        return block(preCacheEventLog_);
    }

private:
    std::mutex mutex_;
    PreCacheLog preCacheEventLog_;
};
