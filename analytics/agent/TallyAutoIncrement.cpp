#include "analytics/agent/TallyAutoIncrement.h"

#include <climits>

namespace {
std::mutex& instanceMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<TallyAutoIncrement>& instanceSlot() {
    static auto* s = new std::shared_ptr<TallyAutoIncrement>;  // outlives the other statics
    return *s;
}
}  // namespace

std::shared_ptr<TallyAutoIncrement> TallyAutoIncrement::instance() {
    std::lock_guard<std::mutex> lock(instanceMutex());
    if (!instanceSlot()) instanceSlot() = std::make_shared<TallyAutoIncrement>();
    return instanceSlot();
}

void TallyAutoIncrement::setWatchInstance(std::shared_ptr<TallyAutoIncrement> counters) {
    std::lock_guard<std::mutex> lock(instanceMutex());
    instanceSlot() = std::move(counters);
}

int TallyAutoIncrement::nextCountFor(int kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = counters_.find(kind);
    // Wraps as the phone's int would, without the undefined overflow.
    int const next = it == counters_.end() ? 1 : (it->second == INT_MAX ? INT_MIN : it->second + 1);
    counters_[kind] = next;
    return next;
}

void TallyAutoIncrement::resetAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    counters_.clear();
}

void TallyAutoIncrement::encodeWith(platform::ArchiveEncoder& encoder) const {
    platform::Value::Map counters;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto const& [kind, count] : counters_) counters[platform::Value(kind)] = platform::Value(count);
    }
    encoder.encode("autoIncrementCounters", platform::Value(std::move(counters)));
}

void TallyAutoIncrement::registerArchiveClass() {
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) {
        auto counters = std::make_shared<TallyAutoIncrement>();
        if (auto const* v = d.value("autoIncrementCounters", platform::Value::Kind::Map)) {
            for (auto const& [k, c] : *v->map()) {
                auto kind = k.asInt();
                auto count = c.asInt();
                if (kind && count && *kind >= INT_MIN && *kind <= INT_MAX && *count >= INT_MIN && *count <= INT_MAX)
                    counters->counters_[int(*kind)] = int(*count);
            }
        }
        return counters;
    });
}
