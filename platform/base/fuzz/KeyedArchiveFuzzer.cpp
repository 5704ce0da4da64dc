// Any bytes decode to a value or to nothing; what decodes re-encodes to the same value.
#include <cstdint>
#include <cstdlib>

#include "platform/base/KeyedArchive.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    auto v = platform::KeyedArchive::decode(data, size);
    if (!v) return 0;
    auto again = platform::KeyedArchive::decode(platform::KeyedArchive::encode(*v));
    if (!again || !(*again == *v)) std::abort();
    return 0;
}
