#include "analytics/crash/TallyTLCrashReporter.h"
#include "analytics/crash/TallyTLCrashReportTextFormatter.h"
#include "platform/base/Directories.h"
#include "testing/TestPaths.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "analytics/crash/tests/ReportDecoding.h"
#include "analytics/crash/tests/support/MachOTestLoader.h"

namespace {

std::vector<std::string> logged;
void keepLine(const std::string& line) { logged.push_back(line); }

// Every reporter's folders under a fresh root; enabling happens only in children, once each.
struct ReporterTest : ::testing::Test {
    testing_support::TempDir root;
    void SetUp() override {
        platform::Directories::setRootOverride(root.path());
        TallyTLCrashReporter::setLogSink(keepLine);
        logged.clear();
    }
    void TearDown() override {
        TallyTLCrashReporter::setLogSink(nullptr);
        platform::Directories::setRootOverride(std::nullopt);
    }
    std::shared_ptr<TallyTLCrashReporter> reporter(const std::string& id = "com.example.zelv", uint64_t type = 0) {
        return TallyTLCrashReporter::initWithApplicationIdentifier(
            id, "7", std::string("1.2"), std::make_shared<TallyTLCrashReporterConfig>(type, 3));
    }
};

__attribute__((noinline)) void nullWrite() { asm volatile("xorl %%eax, %%eax\n\tmovl $1, (%%rax)" ::: "rax", "memory"); }

void restoreDefaults() {
    for (int signo : {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP})
        signal(signo, SIG_DFL);
}

TEST_F(ReporterTest, OneEnablingPerProcessAndTheReportWaitsForTheNextLaunch) {
    auto first = reporter();
    EXPECT_EQ(first->crashReportPath(),
              (root.path() / "cache" / "zelv" / TallyTLCrashReporter::kDataFolderName / "com.example.zelv" /
               "live_report.tlcrash")
                  .string());
    auto child = crash_test::runChild([&] {
        restoreDefaults();
        if (!first->enableCrashReporter())
            _exit(10);
        platform::Error error;
        if (reporter()->enableCrashReporterAndReturnError(&error) || error.code != 3 ||
            *error.userInfo["NSLocalizedDescription"].string() != "A TLCrashReporter instance has already been enabled")
            _exit(11);
        try {
            first->setCrashCallbacks(nullptr);
            _exit(12);
        } catch (const TLCrashReporterException&) {
        }
        nullWrite();
    });
    EXPECT_EQ(child.signal, SIGSEGV);
    EXPECT_TRUE(std::filesystem::is_directory(first->queuedCrashReportDirectory()));

    // The next launch: found, loaded, purged.
    auto next = reporter();
    ASSERT_TRUE(next->hasPendingCrashReport());
    platform::Error error;
    auto data = next->loadPendingCrashReportDataAndReturnError(&error);
    ASSERT_TRUE(data);
    auto report = crash_test::decodeReport(*data);
    ASSERT_TRUE(report);
    EXPECT_EQ(std::string(report->signal->name), "SIGSEGV");
    EXPECT_EQ(std::string(report->application_info->identifier), "com.example.zelv");
    EXPECT_EQ(std::string(report->application_info->marketing_version), "1.2");
    EXPECT_TRUE(next->purgePendingCrashReport());
    EXPECT_FALSE(next->hasPendingCrashReport());
    EXPECT_FALSE(next->purgePendingCrashReportAndReturnError(&error));
    EXPECT_EQ(error.domain, "NSPOSIXErrorDomain");
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_FALSE(next->loadPendingCrashReportDataAndReturnError(&error));
    EXPECT_EQ(error.code, ENOENT);

    // Nothing that big is a report of ours.
    std::filesystem::create_directories(std::filesystem::path(next->crashReportPath()).parent_path());
    std::ofstream(next->crashReportPath()) << std::string(TallyTLCrashReporter::kMaxPendingReportSize + 1, 'x');
    EXPECT_FALSE(next->loadPendingCrashReportDataAndReturnError(&error));
    EXPECT_EQ(error.code, EFBIG);
}

std::atomic<int> userCalls{0};
void countCall(siginfo_t* info, ucontext_t*, void* context) {
    userCalls += 1;
    (void)!write(*static_cast<int*>(context), &info->si_signo, sizeof info->si_signo);
}

TEST_F(ReporterTest, CallbacksExceptionsAndReplacedReports) {
    auto r = reporter("com.example/odd/id");
    EXPECT_NE(r->crashReportDirectory().find("com.example_odd_id"), std::string::npos);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    auto crashed = crash_test::runChild([&] {
        restoreDefaults();
        TallyTLCrashReporterCallbacks callbacks{0, &fds[1], countCall};
        r->setCrashCallbacks(&callbacks);
        r->enableCrashReporter();
        nullWrite();
    });
    EXPECT_EQ(crashed.signal, SIGSEGV);
    close(fds[1]);  // the child is gone: an empty pipe reads as its end, never blocks
    int signo = 0;
    EXPECT_EQ(read(fds[0], &signo, sizeof signo), static_cast<ssize_t>(sizeof signo));
    EXPECT_EQ(signo, SIGSEGV);
    close(fds[0]);
    ASSERT_TRUE(r->hasPendingCrashReport());

    // An uncaught exception: recorded with its type and text, then abort(); the runtime's
    // words still reach stderr once the report is written.
    const auto stderrFile = root.path() / "stderr";
    auto thrown = crash_test::runChild([&] {
        restoreDefaults();
        r->enableCrashReporter();
        freopen(stderrFile.c_str(), "w", stderr);
        // Thrown where nothing catches it.
        std::thread([] { throw std::runtime_error("the level file is gone"); }).join();
    });
    EXPECT_EQ(thrown.signal, SIGABRT);
    auto report = crash_test::decodeReport(crash_test::readFile(r->crashReportPath()));
    ASSERT_TRUE(report);
    EXPECT_EQ(std::string(report->signal->name), "SIGABRT");
    ASSERT_TRUE(report->exception);
    EXPECT_EQ(std::string(report->exception->name), "std::runtime_error");
    EXPECT_EQ(std::string(report->exception->reason), "the level file is gone");
    EXPECT_GT(report->exception->n_frames, 2u);
    auto printed = crash_test::readFile(stderrFile);
    EXPECT_EQ(std::string(printed.begin(), printed.end()),
              "terminate called after throwing an instance of 'std::runtime_error'\n"
              "  what():  the level file is gone\n");

    auto terminated = crash_test::runChild([&] {
        restoreDefaults();
        r->enableCrashReporter();
        freopen(stderrFile.c_str(), "w", stderr);
        std::terminate();
    });
    EXPECT_EQ(terminated.signal, SIGABRT);
    printed = crash_test::readFile(stderrFile);
    EXPECT_EQ(std::string(printed.begin(), printed.end()), "terminate called without an active exception\n");
    report = crash_test::decodeReport(crash_test::readFile(r->crashReportPath()));
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->exception);
}

TEST_F(ReporterTest, BundleFactsAndMachMode) {
    platform::Value::Dict bundle;
    bundle["CFBundleIdentifier"] = "com.example.bundle";
    bundle["CFBundleShortVersionString"] = "2.0";
    auto r = TallyTLCrashReporter::initWithBundle(bundle, nullptr);
    EXPECT_EQ(r->applicationIdentifier(), "com.example.bundle");
    EXPECT_EQ(r->applicationVersion(), "");
    EXPECT_EQ(r->applicationMarketingVersion(), "2.0");
    EXPECT_EQ(logged, std::vector<std::string>{"[TLCrashReporter] Warning -- bundle version unavailable"});
    logged.clear();
    r = TallyTLCrashReporter::initWithBundle({}, nullptr);
    EXPECT_EQ(r->applicationIdentifier(), "crash_reporter_");
    ASSERT_GE(logged.size(), 1u);
    EXPECT_EQ(logged[0], "[TLCrashReporter] Warning -- bundle identifier, using process name crash_reporter_");

    EXPECT_EQ(TallyTLCrashReporterConfig::mapToAsyncSymbolicationStrategy(0), 0u);
    EXPECT_EQ(TallyTLCrashReporterConfig::mapToAsyncSymbolicationStrategy(7), 3u);

    // Mach mode: there is no exception server, and the failed enabling leaves nothing behind:
    // no signal is caught and the runtime keeps its terminate handler.
    auto mach = reporter("com.example.mach", 1);
    auto child = crash_test::runChild([&] {
        restoreDefaults();
        const auto terminate = std::get_terminate();
        platform::Error error;
        if (mach->enableCrashReporterAndReturnError(&error) || error.code != 1)
            _exit(10);
        if (*error.userInfo["NSLocalizedDescription"].string() != "Failed to instantiate the Mach exception server.")
            _exit(11);
        if (error.userInfo["NSUnderlyingError"].dict()->at("code").asInt() != ENOTSUP)
            _exit(12);
        if (std::get_terminate() != terminate)
            _exit(13);
        abort();
    });
    EXPECT_EQ(child.signal, SIGABRT) << child.exitCode;
    EXPECT_FALSE(mach->hasPendingCrashReport());
}

__attribute__((noinline)) std::optional<platform::Data> liveReportFrom(TallyTLCrashReporter& r, platform::Error* error) {
    auto data = r.generateLiveReportAndReturnError(error);
    asm volatile("" ::: "memory");
    return data;
}

__attribute__((noinline)) void waitInKnownFunction(std::atomic<bool>* stop) {
    asm volatile("1: pause\n\tcmpb $0, (%0)\n\tje 1b" : : "r"(stop) : "memory");
}

TEST_F(ReporterTest, LiveReportsDecodeIntoTheModel) {
    // A Mach-O test image loaded and announced to the reporter's image list, as the dynamic
    // loader's callbacks would.
    crash_test::MachOTestLoader image(crash_test::readBytes(crash_test::imagesDir() / "x86_64_chain.dylib"),
                                      "/opt/zelv/x86_64_chain.dylib", true);
    image.announce(TallyTLCrashReporter::sharedImageList());
    auto r = reporter();
    platform::Error error;
    auto data = liveReportFrom(*r, &error);
    ASSERT_TRUE(data);
    auto report = TallyTLCrashReport::initWithData(*data, &error);
    ASSERT_TRUE(report) << error.description();
    // The report points at the caller of the live-report call.
    const auto from = reinterpret_cast<uint64_t>(&liveReportFrom);
    EXPECT_GT(report->signalInfo()->address(), from);
    EXPECT_LT(report->signalInfo()->address(), from + 256);
    EXPECT_EQ(report->signalInfo()->name(), "SIGTRAP");
    EXPECT_EQ(report->signalInfo()->code(), "TRAP_TRACE");
    // The announced image comes first, then the process's own ELF objects.
    ASSERT_GT(report->images().size(), 1u);
    EXPECT_EQ(report->images()[0]->imageName(), "/opt/zelv/x86_64_chain.dylib");
    EXPECT_EQ(report->images()[0]->imageBaseAddress(), image.base());
    EXPECT_TRUE(report->images()[0]->hasImageUUID());
    const std::string text = TallyTLCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
    EXPECT_NE(text.find("Code Type:       X86-64\n"), std::string::npos);
    EXPECT_NE(text.find(" x86_64_chain.dylib x86_64  <" + *report->images()[0]->imageUUID() +
                        "> /opt/zelv/x86_64_chain.dylib\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(report->applicationInfo()->applicationIdentifier(), "com.example.zelv");
    std::shared_ptr<TallyTLCrashReportThreadInfo> crashed;
    for (const auto& t : report->threads())
        if (t->crashed())
            crashed = t;
    ASSERT_TRUE(crashed);
    EXPECT_EQ(crashed->registers().size(), 18u);
    // The working file was the reporter's own, and it is gone.
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(r->crashReportDirectory()))
        files.push_back(entry.path().filename().string());
    EXPECT_TRUE(files.empty()) << files[0];

    // Another thread marked as crashed: its frames come from stopping it.
    std::atomic<bool> stop{false};
    std::atomic<tlcrash_thread_t> tid{0};
    std::thread other([&] {
        tid = tlcrash_async_thread_self();
        waitInKnownFunction(&stop);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (tid.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_NE(tid.load(), 0) << "thread did not start";
    data = r->generateLiveReportWithThread(tid.load(), &error);
    stop = true;
    other.join();
    ASSERT_TRUE(data);
    auto raw = crash_test::decodeReport(*data);
    ASSERT_TRUE(raw);
    EXPECT_TRUE(raw->report_info->user_requested);
    const Tlcrash__CrashReport__Thread* marked = nullptr;
    for (size_t i = 0; i < raw->n_threads; ++i)
        if (raw->threads[i]->crashed)
            marked = raw->threads[i];
    ASSERT_NE(marked, nullptr);
    EXPECT_TRUE(crash_test::hasFrameIn(marked, reinterpret_cast<void*>(waitInKnownFunction), 64));

    // A thread that has ended, an id no thread has, and another process's thread: a report would
    // name no crashed thread, so there is none and an error says why.
    tlcrash_thread_t ended = 0;
    std::thread([&] { ended = tlcrash_async_thread_self(); }).join();
    const pid_t child = fork();
    if (child == 0)
        _exit(pause());
    ASSERT_GT(child, 0);
    for (tlcrash_thread_t thread : {ended, tlcrash_thread_t{INT32_MAX}, tlcrash_thread_t{child}}) {
        error = {};
        EXPECT_FALSE(r->generateLiveReportWithThread(thread, &error)) << thread;
        EXPECT_EQ(error.domain + " " + std::to_string(error.code), "TLCrashReporterErrorDomain 1");
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

}  // namespace
