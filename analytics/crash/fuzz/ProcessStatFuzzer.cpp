// The stat and status texts, split at the first NUL.
#include "analytics/crash/ProcessStat.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\0');
    const std::string stat = input.substr(0, split);
    const std::string status = split == std::string::npos ? std::string() : input.substr(split + 1);
    auto parsed = tlcrash::parseProcessStat(stat, status, 1600000000, 100);
    if (parsed && parsed->name.size() > stat.size())
        __builtin_trap();
    return 0;
}
