#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/base/DeviceFacts.h"
#include "platform/base/Directories.h"
#include "platform/base/Keychain.h"
#include "testing/TestPaths.h"

using platform::DeviceFacts;

namespace {

void write(std::filesystem::path const& p, std::string const& text) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

// A /proc/<pid>/task/<tid>/stat line with the given ticks; the name holds ") (" on purpose.
std::string statLine(uint64_t utime, uint64_t stime, uint64_t start) {
    std::string s = "42 (we ird) (x) S";
    for (int n = 4; n <= 13; ++n) s += " 0";
    s += " " + std::to_string(utime) + " " + std::to_string(stime);
    for (int n = 16; n <= 21; ++n) s += " 0";
    s += " " + std::to_string(start) + " 0 0\n";
    return s;
}

}  // namespace

TEST(DeviceFacts, ProbesReadSyntheticProcTexts) {
    testing_support::TempDir dir;
    long const hz = ::sysconf(_SC_CLK_TCK);
    write(dir / "meminfo", "MemTotal: 100 kB\nMemFree:  10 kB\nActive: 20 kB\nInactive: 30 kB\nUnevictable: 4 kB\n");
    write(dir / "stat", "cpu 1 2 3\nbtime 1700000000\nprocesses 9\n");
    write(dir / "uptime", "200.00 50.00\n");
    // One thread busy half of its 100 s life, one idle since boot.
    write(dir / "self/task/1/stat", statLine(uint64_t(hz) * 30, uint64_t(hz) * 20, uint64_t(hz) * 100));
    write(dir / "self/task/2/stat", statLine(0, 0, 0));
    DeviceFacts::setProcRoot(dir.path());

    auto m = DeviceFacts::memory();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->freeBytes, 10u * 1024);
    EXPECT_EQ(m->activeBytes, 20u * 1024);
    EXPECT_EQ(m->inactiveBytes, 30u * 1024);
    EXPECT_EQ(m->wiredBytes, 4u * 1024);
    EXPECT_EQ(DeviceFacts::bootTime(), 1700000000);
    EXPECT_FLOAT_EQ(DeviceFacts::cpuUsagePercent(), 50.0f);
    // The next sample counts only what was used since: 10 s of 20 s.
    write(dir / "uptime", "220.00 50.00\n");
    write(dir / "self/task/1/stat", statLine(uint64_t(hz) * 40, uint64_t(hz) * 20, uint64_t(hz) * 100));
    EXPECT_FLOAT_EQ(DeviceFacts::cpuUsagePercent(), 50.0f);

    // Damaged texts read as nothing, never as made-up numbers.
    write(dir / "meminfo", "MemFree: lots\n");
    write(dir / "stat", "btime\n");
    write(dir / "self/task/1/stat", "42 (cut");
    EXPECT_FALSE(DeviceFacts::memory());
    EXPECT_FALSE(DeviceFacts::bootTime());
    EXPECT_EQ(DeviceFacts::cpuUsagePercent(), -1.0f);
    DeviceFacts::setProcRoot(std::nullopt);
    EXPECT_TRUE(DeviceFacts::memory());
    EXPECT_GE(DeviceFacts::cpuUsagePercent(), 0.0f);
}

TEST(DeviceFacts, BundleLocaleZoneAndVendorId) {
    testing_support::TempDir dir;
    platform::Directories::setRootOverride(dir.path());
    write(dir / "app/Info.json", R"({"CFBundleIdentifier": "org.zelv.game", "CFBundleVersion": "1.4", "n": 3})");
    DeviceFacts::setExecutablePath((dir / "app/zelv").string());
    DeviceFacts::setBundleInfo(std::nullopt);
    auto info = DeviceFacts::bundleInfo();
    EXPECT_EQ(*info["CFBundleIdentifier"].string(), "org.zelv.game");
    EXPECT_EQ(info["n"].asInt(), 3);

    setenv("LC_ALL", "", 1);
    setenv("LC_MESSAGES", "en_GB.UTF-8@euro", 1);
    EXPECT_EQ(DeviceFacts::preferredLanguage(), "en-GB");
    setenv("LC_MESSAGES", "C", 1);
    EXPECT_FALSE(DeviceFacts::preferredLanguage());
    setenv("TZ", ":Europe/Prague", 1);
    EXPECT_EQ(DeviceFacts::timeZoneName(), "Europe/Prague");

    auto id = DeviceFacts::vendorIdentifier();
    ASSERT_TRUE(id);
    EXPECT_EQ(id->size(), 36u);
    EXPECT_EQ(DeviceFacts::vendorIdentifier(), id);  // once per install

    // Keychain files, the lock file among them, are private to the user.
    using platform::Keychain;
    platform::Data const account{'k'};
    ASSERT_EQ(Keychain::add("svc", account, account, {1}, Keychain::Accessibility::WhenUnlocked), Keychain::kSuccess);
    struct stat st {};
    ASSERT_EQ(::stat(Keychain::directory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    for (auto const& e : std::filesystem::directory_iterator(Keychain::directory())) {
        ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    DeviceFacts::setExecutablePath(std::nullopt);
    DeviceFacts::setBundleInfo(std::nullopt);
    platform::Directories::setRootOverride(std::nullopt);
}
