#include "analytics/agent/TallyPulseSettings.h"

void TallyPulseSettings::registerArchiveClass() {
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) {
        auto settings = std::make_shared<TallyPulseSettings>();
        if (auto const* a = d.decodeDict("analytics")) settings->setAnalytics(*a);
        return settings;
    });
}

void TallyPulseSettings::encodeWith(platform::ArchiveEncoder& encoder) const {
    encoder.encode("analytics", platform::Value(analytics_));
}
