#include "analytics/crash/ProcessStat.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace tlcrash {

namespace {

std::optional<std::string> readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace

std::optional<ProcessStat> parseProcessStat(const std::string& stat, const std::string& status,
                                            int64_t bootTimeSeconds, long ticksPerSecond) {
    // "pid (comm) state ppid ..."; the name may hold spaces and parentheses, so it ends at the
    // last ')'.
    const auto open = stat.find('(');
    const auto close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open || ticksPerSecond <= 0)
        return std::nullopt;
    ProcessStat out;
    try {
        out.pid = static_cast<pid_t>(std::stol(stat.substr(0, open)));
    } catch (...) {
        return std::nullopt;
    }
    out.name = stat.substr(open + 1, close - open - 1);
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    long long ppid = 0;
    rest >> state >> ppid;
    // Fields 5 to 21, then the start time in clock ticks since boot (field 22).
    std::string skip;
    for (int i = 5; i <= 21 && rest; ++i)
        rest >> skip;
    unsigned long long startTicks = 0;
    if (!(rest >> startTicks))
        return std::nullopt;
    out.parentPid = static_cast<pid_t>(ppid);
    out.startSeconds = bootTimeSeconds + static_cast<int64_t>(startTicks / static_cast<unsigned long long>(ticksPerSecond));
    out.startMicroseconds = static_cast<int32_t>((startTicks % static_cast<unsigned long long>(ticksPerSecond)) *
                                                 1000000ULL / static_cast<unsigned long long>(ticksPerSecond));
    std::istringstream lines(status);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("TracerPid:", 0) == 0) {
            std::istringstream value(line.substr(10));
            long tracer = 0;
            value >> tracer;
            out.traced = tracer != 0;
        }
    }
    return out;
}

std::optional<ProcessStat> readProcessStat(pid_t pid, const std::filesystem::path& procRoot) {
    const auto dir = procRoot / std::to_string(pid);
    auto stat = readText(dir / "stat");
    auto status = readText(dir / "status");
    auto system = readText(procRoot / "stat");
    if (!stat || !status || !system)
        return std::nullopt;
    int64_t bootTime = 0;
    std::istringstream lines(*system);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("btime ", 0) == 0) {
            std::istringstream value(line.substr(6));
            value >> bootTime;
        }
    }
    return parseProcessStat(*stat, *status, bootTime, sysconf(_SC_CLK_TCK));
}

}  // namespace tlcrash
