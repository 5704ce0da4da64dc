#pragma once
// Facts about a process from /proc/<pid>/stat and status, for the report writer and the
// reporter's process info.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace tlcrash {

struct ProcessStat {
    pid_t pid = 0;
    std::string name;  // the kernel's command name, as stored (at most 15 bytes)
    pid_t parentPid = 0;
    int64_t startSeconds = 0;  // since 1970
    int32_t startMicroseconds = 0;
    bool traced = false;
};

// Nothing when the texts are not what the kernel writes.
std::optional<ProcessStat> parseProcessStat(const std::string& stat, const std::string& status,
                                            int64_t bootTimeSeconds, long ticksPerSecond);
std::optional<ProcessStat> readProcessStat(pid_t pid, const std::filesystem::path& procRoot = "/proc");

}  // namespace tlcrash
