#include "platform/base/NotificationCenter.h"

#include <algorithm>
#include <thread>

namespace platform {

struct NotificationCenter::Entry {
    void const* owner;
    std::string name;
    Observer observer;
    bool removed = false;
    int calls = 0;  // running now, on any thread
};

namespace {
// Observers running on this thread, so that one removing itself does not wait for itself.
thread_local std::vector<void const*> callingEntries;
}  // namespace

NotificationCenter& NotificationCenter::shared() {
    static NotificationCenter* c = new NotificationCenter;
    return *c;
}

void NotificationCenter::addObserver(void const* owner, std::string name, Observer observer) {
    if (!observer) return;
    auto entry = std::make_shared<Entry>(Entry{owner, std::move(name), std::move(observer)});
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
}

void NotificationCenter::removeObserver(void const* owner) { remove(owner, nullptr); }

void NotificationCenter::removeObserver(void const* owner, std::string const& name) { remove(owner, &name); }

void NotificationCenter::remove(void const* owner, std::string const* name) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<std::shared_ptr<Entry>> gone;
    for (auto& e : entries_)
        if (e->owner == owner && (!name || e->name == *name)) {
            e->removed = true;
            gone.push_back(e);
        }
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [](auto const& e) { return e->removed; }),
                   entries_.end());
    idle_.wait(lock, [&] {
        for (auto const& e : gone) {
            int const mine = static_cast<int>(std::count(callingEntries.begin(), callingEntries.end(), e.get()));
            if (e->calls > mine) return false;
        }
        return true;
    });
}

void NotificationCenter::post(std::string const& name, void* object, Value::Dict userInfo) {
    Notification const note{name, object, std::move(userInfo)};
    std::vector<std::shared_ptr<Entry>> matching;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto const& e : entries_)
            if (e->name == name) matching.push_back(e);
    }
    for (auto const& e : matching) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (e->removed) continue;
            ++e->calls;
        }
        callingEntries.push_back(e.get());
        struct Done {
            NotificationCenter* c;
            Entry* e;
            ~Done() {
                callingEntries.pop_back();
                std::lock_guard<std::mutex> lock(c->mutex_);
                --e->calls;
                c->idle_.notify_all();
            }
        } done{this, e.get()};
        e->observer(note);
    }
}

}  // namespace platform
