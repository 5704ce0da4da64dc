#include "analytics/crash/TallyTLCrashProcessInfo.h"

#include "analytics/crash/ProcessStat.h"

#include <unistd.h>

std::shared_ptr<TallyTLCrashProcessInfo> TallyTLCrashProcessInfo::currentProcessInfo() {
    return initWithProcessID(getpid());
}

std::shared_ptr<TallyTLCrashProcessInfo> TallyTLCrashProcessInfo::initWithProcessID(
    pid_t pid, const std::filesystem::path& procRoot) {
    auto stat = tlcrash::readProcessStat(pid, procRoot);
    if (!stat)
        return nullptr;
    std::shared_ptr<TallyTLCrashProcessInfo> info(new TallyTLCrashProcessInfo());
    info->processID_ = stat->pid;
    // The kernel keeps 15 bytes of the name and may cut a character in two.
    std::string name = longestValidUtf8Prefix(stat->name.substr(0, 16));
    if (!name.empty())
        info->processName_ = std::move(name);
    info->parentProcessID_ = stat->parentPid;
    info->startTime_ = {stat->startSeconds, stat->startMicroseconds};
    info->traced_ = stat->traced;
    return info;
}

std::string TallyTLCrashProcessInfo::longestValidUtf8Prefix(const std::string& bytes) {
    size_t end = 0;
    while (end < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[end]);
        size_t length;
        if (lead == 0)
            break;
        if (lead < 0x80)
            length = 1;
        else if ((lead & 0xE0) == 0xC0)
            length = 2;
        else if ((lead & 0xF0) == 0xE0)
            length = 3;
        else if ((lead & 0xF8) == 0xF0)
            length = 4;
        else
            break;
        if (end + length > bytes.size())
            break;
        bool valid = true;
        for (size_t i = 1; i < length; ++i)
            valid = valid && (static_cast<unsigned char>(bytes[end + i]) & 0xC0) == 0x80;
        if (!valid)
            break;
        end += length;
    }
    return bytes.substr(0, end);
}
