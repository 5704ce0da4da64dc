#pragma once
// Facts about the device, the process and the application bundle, read from Linux in place of
// the phone's frameworks. What Linux cannot say (the screen, the idiom, the application state)
// comes from a profile the host sets; tests move /proc and the bundle where they like.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/base/Value.h"

namespace platform {

struct DeviceProfile {
    double screenWidth = 0;   // points, as the screen is held
    double screenHeight = 0;
    double screenScale = 1;
    std::optional<int64_t> idiom;             // 0 phone, 1 tablet; nothing when unknown
    std::optional<int> applicationState;      // 0 active, 1 inactive, 2 background
    int statusBarOrientation = 1;             // 1 portrait, 2 upside down, 3 landscape right, 4 left
    int deviceOrientation = 1;
    bool multitaskingSupported = false;       // no background tasks on the desktop
};

struct MemoryCounts {
    uint64_t freeBytes = 0, activeBytes = 0, inactiveBytes = 0, wiredBytes = 0;
};

class DeviceFacts {
public:
    static void setProfile(DeviceProfile const& profile);
    static DeviceProfile profile();

    // The bundle's keys, from Info.json beside the executable unless set.
    static Value::Dict bundleInfo();
    static void setBundleInfo(std::optional<Value::Dict> info);
    static std::string executablePath();  // /proc/self/exe unless set
    static void setExecutablePath(std::optional<std::string> path);

    static std::string machine();  // uname's machine field
    // The operating system version text: the kernel release unless set.
    static std::string systemVersion();
    static void setSystemVersion(std::optional<std::string> text);

    // Where /proc is read (tests point it at synthetic texts).
    static void setProcRoot(std::optional<std::filesystem::path> root);
    static std::optional<MemoryCounts> memory();
    static std::optional<MemoryCounts> parseMeminfo(std::string const& text);
    // Percent of one core used by this process's threads since the previous call (since each
    // thread started, on the first); -1 when it cannot be read.
    static float cpuUsagePercent();
    // Seconds since 1970 of the last boot; nothing when it cannot be read.
    static std::optional<int64_t> bootTime();
    // Total and free bytes of the file system holding the data folder.
    static std::optional<std::pair<uint64_t, uint64_t>> disk();

    // The battery as the phone reports it: 0 unknown (no battery), 1 unplugged, 2 charging, 3 full;
    // from /sys/class/power_supply unless moved.
    static int batteryState();
    static void setPowerSupplyRoot(std::optional<std::filesystem::path> root);

    // Preferred language ("en-GB") from LC_ALL, LC_MESSAGES or LANG; nothing for C/POSIX or unset.
    static std::optional<std::string> preferredLanguage();
    // The zone name from TZ, /etc/timezone or the /etc/localtime link.
    static std::optional<std::string> timeZoneName();
    // A UUID made once per install and kept in the data folder.
    static std::optional<std::string> vendorIdentifier();
};

}  // namespace platform
