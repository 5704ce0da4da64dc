#pragma once
// The kernel's version, read as the three numbers of its release text ("6.1.0-18-amd64").
#include <cstdint>
#include <memory>
#include <string>

struct TallyTLCrashHostVersion {
    uint64_t major;
    uint64_t minor;
    uint64_t revision;
};

class TallyTLCrashHostInfo {
public:
    static std::shared_ptr<TallyTLCrashHostInfo> currentHostInfo();
    // Keeps what scans of "major.minor.revision"; logs a text that does not scan whole.
    static std::shared_ptr<TallyTLCrashHostInfo> initWithRelease(const std::string& release);

    TallyTLCrashHostVersion darwinVersion() const { return version_; }

    // Where the log lines go (stderr unless set).
    static void setLogSink(void (*sink)(const std::string& line));

private:
    TallyTLCrashHostInfo() = default;
    TallyTLCrashHostVersion version_{0, 0, 0};
};
