#pragma once
// The stored remote configuration, as far as the agent-wide settings read it: its "analytics"
// dictionary. The configuration response fills in the rest of the class.
#include <memory>
#include <string>

#include "platform/base/KeyedArchive.h"

class TallyPulseSettings : public platform::Archivable {
public:
    static constexpr char const* kClassName = "TallyPulseSettings";
    // Makes archived settings readable back from the globals map.
    static void registerArchiveClass();

    platform::Value::Dict const& analytics() const { return analytics_; }
    void setAnalytics(platform::Value::Dict analytics) { analytics_ = std::move(analytics); }

    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;

private:
    platform::Value::Dict analytics_;
};
