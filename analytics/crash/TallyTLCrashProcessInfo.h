#pragma once
// Facts about one process, for the writer's parent name and for whoever asks.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

struct TallyTLCrashProcessStartTime {
    int64_t seconds;  // since 1970
    int32_t microseconds;
};

class TallyTLCrashProcessInfo {
public:
    static std::shared_ptr<TallyTLCrashProcessInfo> currentProcessInfo();
    // Nothing when the process cannot be read.
    static std::shared_ptr<TallyTLCrashProcessInfo> initWithProcessID(pid_t pid,
                                                                      const std::filesystem::path& procRoot = "/proc");

    pid_t processID() const { return processID_; }
    // Nothing when the name has no valid UTF-8 prefix.
    const std::optional<std::string>& processName() const { return processName_; }
    pid_t parentProcessID() const { return parentProcessID_; }
    TallyTLCrashProcessStartTime startTime() const { return startTime_; }
    bool isTraced() const { return traced_; }

    // The longest prefix of the bytes that is valid UTF-8, ending at a NUL.
    static std::string longestValidUtf8Prefix(const std::string& bytes);

private:
    TallyTLCrashProcessInfo() = default;
    pid_t processID_ = 0;
    std::optional<std::string> processName_;
    pid_t parentProcessID_ = 0;
    TallyTLCrashProcessStartTime startTime_{0, 0};
    bool traced_ = false;
};
