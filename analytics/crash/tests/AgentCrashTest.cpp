// The agent's start-up with crash reporting on: it enables the reporter, a crash leaves its
// report, and the next run's session takes it in (loaded, purged) and hands it to the sender.
#include "analytics/agent/Tally.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyImpl.h"
#include "analytics/agent/TallySession.h"
#include "analytics/agent/tests/SessionBlockReader.h"
#include "analytics/crash/SignalHandler.h"
#include "analytics/crash/TallyTLCrashReporter.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyDataSenderIndex.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/Directories.h"
#include "testing/TestPaths.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "analytics/crash/tests/ReportDecoding.h"

namespace {

void startWithCrashReporting() {
    for (int signo : {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP})
        signal(signo, SIG_DFL);
    platform::DeviceProfile profile;
    profile.applicationState = 0;
    platform::DeviceFacts::setProfile(profile);
    Tally::setCrashReportingEnabled(true);
    Tally::startSession("QK7RZT2M");
}

TEST(CrashAgent, StartUpEnablesTheReporterAndTheNextSessionTakesTheReport) {
    testing_support::TempDir root;
    platform::Directories::setRootOverride(root.path());
    const std::string path = TallyTLCrashReporter::init()->crashReportPath();

    auto first = crash_test::runChild([] {
        startWithCrashReporting();
        if (!TallyGlobalVariableStorage::sharedInstance()->tallyCrashReporter())
            _exit(10);
        if (!TallyTLCrashSignalHandler::isTrampolineInstalled(SIGSEGV))
            _exit(11);
        asm volatile("xorl %%eax, %%eax\n\tmovl $1, (%%rax)" ::: "rax", "memory");
        _exit(12);
    });
    ASSERT_FALSE(first.timedOut);
    EXPECT_EQ(first.signal, SIGSEGV) << first.exitCode;
    auto report = crash_test::decodeReport(crash_test::readFile(path));
    ASSERT_TRUE(report);
    EXPECT_EQ(std::string(report->signal->name), "SIGSEGV");

    // The next run: the session's neighbours reach the stored reporter.
    auto second = crash_test::runChild([&] {
        startWithCrashReporting();
        auto neighbours = TallySession::neighbours();
        if (!neighbours.hasPendingCrashReport || !neighbours.loadPendingCrashReportData ||
            !neighbours.purgePendingCrashReport)
            _exit(10);
        // The session found the one the crash left behind, loaded its report and purged it.
        if (neighbours.hasPendingCrashReport())
            _exit(12);
        // The session left behind went out with the report's bytes as its crash entry.
        bool carried = false;
        auto impl = TallyImpl::currentSession();
        if (!impl)
            _exit(13);
        impl->queue().sync([&] {
            auto sender = TallyDataSender::instance();
            for (auto const& b : sender->dataIndex()->notSentBlocksForDataKey(TallyDataSender::dataKey()))
                for (auto const& e : block_reader::readBlock(*b->data()).errors)
                    carried = carried || crash_test::decodeReport(e.report) != nullptr;
        });
        _exit(carried ? 0 : 14);
    });
    ASSERT_FALSE(second.timedOut);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    platform::Directories::setRootOverride(std::nullopt);
}

}  // namespace
