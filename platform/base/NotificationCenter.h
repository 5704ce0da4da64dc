#pragma once
// Named notifications with an optional object and a user-info dictionary, delivered to the
// observers on the posting thread. Safe from any thread: once removeObserver returns, that
// owner's observers are not running on another thread and will not be called again.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/Value.h"

namespace platform {

struct Notification {
    std::string name;
    void* object = nullptr;  // what the notification is about (the poster's own pointer)
    Value::Dict userInfo;
};

class NotificationCenter {
public:
    static NotificationCenter& shared();

    using Observer = std::function<void(Notification const&)>;
    void addObserver(void const* owner, std::string name, Observer observer);
    void removeObserver(void const* owner);
    void removeObserver(void const* owner, std::string const& name);
    void post(std::string const& name, void* object = nullptr, Value::Dict userInfo = {});

private:
    struct Entry;
    void remove(void const* owner, std::string const* name);
    std::mutex mutex_;
    std::condition_variable idle_;
    std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace platform
