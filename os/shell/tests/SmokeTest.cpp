// Runs the real executable headless for a few hundred frames, then asks it to end as the system
// would, and expects a clean exit.
#include <gtest/gtest.h>

#include <csignal>

#include "os/shell/tests/ZelvProcess.h"
#include "testing/TestPaths.h"

namespace {

TEST(Shell, RunsHeadlessAndEndsCleanlyOnSigterm) {
    // The run keeps its settings, downloads and saves away from the user's own.
    testing_support::TempDir home;
    zelv_run::Options o;
    o.home = home.path();
    // Once launched, 360 frames (6 s at 60 frames a second, longer on a loaded machine).
    o.signalAfter = "Reachability";
    o.settle = std::chrono::milliseconds(6000);
    o.signal = SIGTERM;
    o.deadline = std::chrono::seconds(90);
    auto r = zelv_run::run(o);
    ASSERT_FALSE(r.timedOut) << "zelv did not end after SIGTERM\n" << r.describe();
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.status, 0) << r.describe();
    long const frames = r.frames();
    // The main menu draws the whole screen on the software renderer: on a loaded machine that is
    // far fewer than 60 frames a second (86 in 4 s of CPU at load 30), but the loop must keep going.
    EXPECT_GE(frames, 30) << r.describe();
    EXPECT_LE(frames, r.signalledAfter.count() * 60 / 1000 + 120) << "more than 60 frames a second: " << r.describe();
    // The second archive was fetched into the run's own cache.
    EXPECT_TRUE(std::filesystem::exists(home / "cache" / "zelv" / "pak1.pak")) << r.describe();
}

}  // namespace
