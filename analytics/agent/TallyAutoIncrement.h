#pragma once
// Per-kind serial numbers within a session: kind 1 numbers errors, kind 2 events.
#include <map>
#include <memory>
#include <mutex>

#include "platform/base/KeyedArchive.h"

class TallyAutoIncrement : public platform::Archivable {
public:
    static constexpr int kErrors = 1;
    static constexpr int kEvents = 2;
    static constexpr char const* kClassName = "TallyAutoIncrement";

    static std::shared_ptr<TallyAutoIncrement> instance();
    static void setWatchInstance(std::shared_ptr<TallyAutoIncrement> counters);
    static void registerArchiveClass();

    int nextCountFor(int kind);
    void resetAll();

    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;

private:
    mutable std::mutex mutex_;
    std::map<int, int> counters_;
};
