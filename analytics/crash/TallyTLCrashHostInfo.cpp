#include "analytics/crash/TallyTLCrashHostInfo.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <sys/utsname.h>

namespace {

std::atomic<void (*)(const std::string&)> logSink{nullptr};

void logLine(const std::string& line) {
    if (auto sink = logSink.load())
        sink(line);
    else
        std::cerr << line << '\n';
}

// One decimal number at pos; false when there is none (or it does not fit).
bool scanNumber(const std::string& text, size_t& pos, uint64_t& out) {
    const size_t start = pos;
    uint64_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        const uint64_t digit = static_cast<uint64_t>(text[pos] - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
        ++pos;
    }
    out = value;
    return pos > start;
}

}  // namespace

void TallyTLCrashHostInfo::setLogSink(void (*sink)(const std::string&)) { logSink.store(sink); }

std::shared_ptr<TallyTLCrashHostInfo> TallyTLCrashHostInfo::currentHostInfo() {
    utsname names{};
    if (uname(&names) != 0) {
        const int error = errno;
        logLine("Failed to fetch kern.osrelease value " + std::to_string(error) + ": " + std::strerror(error));
        return nullptr;
    }
    return initWithRelease(names.release);
}

std::shared_ptr<TallyTLCrashHostInfo> TallyTLCrashHostInfo::initWithRelease(const std::string& release) {
    std::shared_ptr<TallyTLCrashHostInfo> info(new TallyTLCrashHostInfo());
    uint64_t* parts[3] = {&info->version_.major, &info->version_.minor, &info->version_.revision};
    size_t pos = 0;
    bool whole = true;
    for (int i = 0; i < 3 && whole; ++i) {
        if (i > 0) {
            if (pos >= release.size() || release[pos] != '.') {
                whole = false;
                break;
            }
            ++pos;
        }
        whole = scanNumber(release, pos, *parts[i]);
    }
    if (!whole)
        logLine("Unexpected kern.osrelease string format: " + release);
    return info;
}
