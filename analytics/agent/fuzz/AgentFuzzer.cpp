// Stored agent data and templates from any bytes. The first byte picks what the rest is:
// even, an archive decoded with every archived agent class registered; odd, a template and the
// values to fill it with (split at the first 0 byte, values keyed by their own text, so every
// value is its own placeholder). Neither may crash or hang.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "analytics/agent/TallyUtil.h"
#include "platform/base/KeyedArchive.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static bool const registered = [] {
        TallyUtil::registerArchiveClasses();
        return true;
    }();
    (void)registered;
    if (size == 0) return 0;
    if ((data[0] & 1) == 0) {
        auto v = platform::KeyedArchive::decode(data + 1, size - 1);
        if (v) {
            auto again = platform::KeyedArchive::decode(platform::KeyedArchive::encode(*v));
            if (!again) std::abort();
        }
        return 0;
    }
    std::string const rest(reinterpret_cast<char const*>(data + 1), size - 1);
    size_t const split = rest.find('\0');
    std::string text = rest.substr(0, split);
    std::string const value = split == std::string::npos ? "%{a}" : rest.substr(split + 1);
    Value::Dict values{{"%{a}", Value(value)}, {value, Value(value + value)}, {"{b}", Value("%{a}{b}")}};
    TallyUtil::substituteParamsInString(&text, values, R"(%?\{([A-Za-z0-9_])*\})");
    return 0;
}
