#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/PreferencesFile.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    auto entries = platform::PreferencesFile::parse(std::string_view(reinterpret_cast<char const*>(data), size));
    for (auto const& [k, v] : entries)
        if (k.empty() || k.find('\n') != std::string::npos || v.find('\n') != std::string::npos) __builtin_trap();
    return 0;
}
