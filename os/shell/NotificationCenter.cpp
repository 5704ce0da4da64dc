#include "os/shell/NotificationCenter.h"

#include <algorithm>

namespace os {

NotificationCenter& NotificationCenter::shared() {
    static NotificationCenter c;
    return c;
}

void NotificationCenter::addObserver(void const* owner, std::string name, Observer observer) {
    entries_.push_back(Entry{owner, std::move(name), std::move(observer)});
}

void NotificationCenter::removeObserver(void const* owner) {
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [&](Entry const& e) { return e.owner == owner; }),
                   entries_.end());
}

void NotificationCenter::post(std::string const& name, void* object) {
    // A copy: observers may add or remove observers.
    std::vector<Entry> const entries = entries_;
    for (Entry const& e : entries)
        if (e.name == name) e.observer(object);
}

}  // namespace os
