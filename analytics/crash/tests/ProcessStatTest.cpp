#include "analytics/crash/ProcessStat.h"
#include "testing/TestPaths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace {

const char* kStat =
    "4242 (my (odd) app) S 17 4242 4242 0 -1 4194560 1 0 0 0 3 4 0 0 20 0 3 0 12345 1000 10 "
    "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 2 0 0 0 0 0\n";

TEST(CrashProcessStat, SyntheticTextsAndThisProcess) {
    auto stat = tlcrash::parseProcessStat(kStat, "Name:\tmy (odd) app\nTracerPid:\t99\n", 1700000000, 100);
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->pid, 4242);
    EXPECT_EQ(stat->name, "my (odd) app");
    EXPECT_EQ(stat->parentPid, 17);
    EXPECT_EQ(stat->startSeconds, 1700000000 + 123);
    EXPECT_EQ(stat->startMicroseconds, 450000);
    EXPECT_TRUE(stat->traced);
    EXPECT_FALSE(tlcrash::parseProcessStat(kStat, "TracerPid:\t0\n", 0, 100)->traced);

    for (const char* bad : {"", "4242 my app S 17", "4242 (app", "x (app) S 1 2", "4242 (app) S 17 1 2 3"})
        EXPECT_FALSE(tlcrash::parseProcessStat(bad, "", 0, 100)) << bad;

    testing_support::TempDir root;
    std::filesystem::create_directories(root / "7");
    std::ofstream(root / "7" / "stat") << kStat;
    std::ofstream(root / "7" / "status") << "TracerPid:\t0\n";
    std::ofstream(root / "stat") << "cpu 1 2 3\nbtime 1600000000\n";
    auto fromRoot = tlcrash::readProcessStat(7, root.path());
    ASSERT_TRUE(fromRoot);
    EXPECT_EQ(fromRoot->startSeconds, 1600000000 + 12345 / sysconf(_SC_CLK_TCK));
    EXPECT_FALSE(tlcrash::readProcessStat(8, root.path()));

    auto self = tlcrash::readProcessStat(getpid());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->pid, getpid());
    EXPECT_EQ(self->parentPid, getppid());
    EXPECT_EQ(self->name, "crash_writer_te");
    EXPECT_LE(self->startSeconds, time(nullptr));
}

}  // namespace
