#pragma once
// Named notifications posted to observers on the posting thread (the shell posts on the main
// thread only).
#include <functional>
#include <string>
#include <vector>

namespace os {

class NotificationCenter {
public:
    static NotificationCenter& shared();

    // object: what the notification is about (the poster's own pointer).
    using Observer = std::function<void(void* object)>;
    void addObserver(void const* owner, std::string name, Observer observer);
    void removeObserver(void const* owner);
    void post(std::string const& name, void* object);

private:
    struct Entry {
        void const* owner;
        std::string name;
        Observer observer;
    };
    std::vector<Entry> entries_;
};

}  // namespace os
