#include "analytics/agent/TallyClock.h"

#include <mutex>

namespace {
std::mutex& mutex() {
    static std::mutex m;
    return m;
}
std::function<platform::Date()>& source() {
    static auto* s = new std::function<platform::Date()>;  // outlives the other statics
    return *s;
}
}  // namespace

platform::Date TallyClock::now() {
    std::function<platform::Date()> s;
    {
        std::lock_guard<std::mutex> lock(mutex());
        s = source();
    }
    return s ? s() : platform::Date::now();
}

void TallyClock::setSource(std::function<platform::Date()> s) {
    std::lock_guard<std::mutex> lock(mutex());
    source() = std::move(s);
}
