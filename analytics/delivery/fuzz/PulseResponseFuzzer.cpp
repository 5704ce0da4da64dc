// Configuration replies: decode, archive the settings, read them back and archive again; the
// two archives must agree. Anything refused must be refused the second time too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "analytics/delivery/TallyPulseResponse.h"
#include "platform/base/KeyedArchive.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static bool const registered = [] {
        TallyPulseSettings::registerArchiveClass();
        return true;
    }();
    (void)registered;
    platform::Data body(data, data + size);
    TallyPulseResponse response;
    auto first = response.parsePulseResponse(body, 1'000'000'000.5);
    auto again = response.parsePulseResponse(body, 1'000'000'000.5);
    if (bool(first) != bool(again)) std::abort();
    if (!first) return 0;
    auto const archived = platform::KeyedArchive::encode(platform::Value(first));
    auto const decoded = platform::KeyedArchive::decode(archived);
    if (!decoded) std::abort();
    auto back = decoded->objectAs<TallyPulseSettings>();
    if (!back) std::abort();
    if (platform::KeyedArchive::encode(platform::Value(back)) != archived) std::abort();
    if (platform::KeyedArchive::encode(platform::Value(again)) != archived) std::abort();
    return 0;
}
