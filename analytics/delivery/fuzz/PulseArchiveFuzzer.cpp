// Stored configuration and callback records: any archive decodes to nothing or to objects that
// archive again to the same bytes after one more round.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/delivery/TallyPulseTriggerInvokeInfo.h"
#include "analytics/delivery/TallyTransaction.h"
#include "platform/base/KeyedArchive.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static bool const registered = [] {
        TallyPulseSettings::registerArchiveClass();
        TallyPulseTriggerInvokeInfo::registerArchiveClass();
        TallyTransaction::registerArchiveClass();
        return true;
    }();
    (void)registered;
    auto first = platform::KeyedArchive::decode(data, size);
    if (!first) return 0;
    auto const once = platform::KeyedArchive::encode(*first);
    auto second = platform::KeyedArchive::decode(once);
    if (!second) std::abort();
    if (platform::KeyedArchive::encode(*second) != once) std::abort();
    // Whatever decoded as a record must also build its binary form without failing.
    if (auto invoke = second->objectAs<TallyPulseTriggerInvokeInfo>()) (void)invoke->data();
    if (auto settings = second->objectAs<TallyPulseSettings>()) (void)settings->callbackIdsForEvent("e", {});
    return 0;
}
