// The reporter as a program uses it on Linux, with nothing announced to its image list: a
// child enables it and crashes, the next process loads the pending report, decodes it with
// the library's own decoder and prints it.
#include "analytics/crash/ElfImageScan.h"
#include "analytics/crash/TallyTLCrashReport.h"
#include "analytics/crash/TallyTLCrashReportTextFormatter.h"
#include "analytics/crash/TallyTLCrashReporter.h"
#include "platform/base/Directories.h"
#include "platform/base/WorkQueue.h"
#include "testing/TestPaths.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <link.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>

#include "analytics/crash/tests/ReportDecoding.h"

// Named functions of the executable the reports must name.
extern "C" {

__attribute__((noinline)) void zelvCrashInNamedFunction(volatile int* target) {
    *target = 1;
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void zelvCallerOfTheCrash() {
    zelvCrashInNamedFunction(nullptr);
    asm volatile("" ::: "memory");
}

// The C library's string functions keep no frame pointer: only their call frames lead back.
__attribute__((noinline)) size_t zelvMeasureBadString() {
    size_t (*volatile measure)(const char*) = strlen;
    const size_t length = measure(reinterpret_cast<const char*>(16));
    asm volatile("" ::: "memory");
    return length;
}

__attribute__((noinline)) void zelvCallerOfTheLibraryCrash() {
    zelvMeasureBadString();
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void zelvDescend(int depth, std::atomic<int>* parked) {
    if (depth > 0) {
        zelvDescend(depth - 1, parked);
    } else {
        parked->fetch_add(1);
        while (parked->load() > 0)
            pause();
    }
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) int zelvRecurseForever(volatile int* depth) {
    volatile char frame[256];
    frame[0] = static_cast<char>(*depth);
    *depth = *depth + 1;
    if (*depth < 0)
        return 0;
    return zelvRecurseForever(depth) + frame[0];
}

// Takes address space until new refuses: the commonest crash there is. Nothing may catch the
// refusal, the test runner's handlers included.
__attribute__((noinline)) void zelvAllocateUntilRefused() noexcept {
    for (;;) {
        char* block = new char[1 << 16];
        asm volatile("" : : "r"(block) : "memory");
    }
}

}  // extern "C"

namespace {

struct ElfReportTest : ::testing::Test {
    testing_support::TempDir root;
    void SetUp() override {
        platform::Directories::setRootOverride(root.path());
        TallyTLCrashReporter::setLogSink([](const std::string&) {});
    }
    void TearDown() override {
        TallyTLCrashReporter::setLogSink(nullptr);
        platform::Directories::setRootOverride(std::nullopt);
    }
    static std::shared_ptr<TallyTLCrashReporter> reporter() {
        return TallyTLCrashReporter::initWithApplicationIdentifier(
            "com.example.zelv", "7", std::string("1.2"), std::make_shared<TallyTLCrashReporterConfig>(0, 3));
    }
    // In the child: what a program does to switch crash reporting on.
    static void enable() {
        for (int signo : {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP})
            signal(signo, SIG_DFL);
        if (!reporter()->enableCrashReporter())
            _exit(10);
    }

    struct Pending {
        std::shared_ptr<TallyTLCrashReport> report;
        std::string text;
        size_t bytes = 0;
    };
    // The next launch: load, decode, print, purge.
    static Pending loadPending() {
        Pending pending;
        auto next = reporter();
        EXPECT_TRUE(next->hasPendingCrashReport());
        platform::Error error;
        auto data = next->loadPendingCrashReportDataAndReturnError(&error);
        if (!data)
            return pending;
        pending.bytes = data->size();
        pending.report = TallyTLCrashReport::initWithData(*data, &error);
        EXPECT_TRUE(pending.report) << error.description();
        if (pending.report)
            pending.text = TallyTLCrashReportTextFormatter::stringValueForCrashReport(*pending.report, 0);
        EXPECT_TRUE(next->purgePendingCrashReport());
        return pending;
    }
    // A child that enables the reporter, runs body and must die by the signal; then the
    // report it left.
    static Pending crashAndLoad(const std::function<void()>& body, int signal = SIGSEGV, int timeoutMs = 20000) {
        auto child = crash_test::runChild(
            [&] {
                enable();
                body();
                _exit(11);
            },
            timeoutMs);
        EXPECT_FALSE(child.timedOut);
        EXPECT_EQ(child.signal, signal) << child.exitCode;
        return loadPending();
    }
};

// The crashed thread's lines in the printed report.
std::vector<std::string> crashedThreadLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.find(" Crashed:") != std::string::npos && line.rfind("Thread ", 0) == 0) {
            inside = true;
            continue;
        }
        if (inside && line.empty())
            break;
        if (inside)
            lines.push_back(line);
    }
    return lines;
}

// Index of the first line naming the function, or -1.
int lineNaming(const std::vector<std::string>& lines, const std::string& name) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(" " + name + " + ") != std::string::npos)
            return static_cast<int>(i);
    return -1;
}

std::string executableName() { return std::filesystem::read_symlink("/proc/self/exe").filename().string(); }

TEST_F(ElfReportTest, ACrashInTheExecutableNamesTheFunctionItsCallerAndTheImages) {
    const Pending pending = crashAndLoad([] {
        zelvCallerOfTheCrash();
    });
    ASSERT_TRUE(pending.report);
    const auto& report = *pending.report;
    EXPECT_EQ(report.systemInfo()->operatingSystem(), 3);
    EXPECT_EQ(report.systemInfo()->architecture(), 1);

    const auto lines = crashedThreadLines(pending.text);
    ASSERT_FALSE(lines.empty()) << pending.text;
    // Frame 0 is the faulting function, in the executable; its caller follows at once.
    EXPECT_EQ(lineNaming(lines, "zelvCrashInNamedFunction"), 0) << pending.text;
    EXPECT_EQ(lineNaming(lines, "zelvCallerOfTheCrash"), 1) << pending.text;
    EXPECT_EQ(lines[0].find("0   " + executableName()), 0u) << lines[0];
    // The walk ends at the process's entry, whose call frame has no return address.
    EXPECT_LT(lines.size(), 40u) << pending.text;

    // The executable and the C library are listed with their build-ids, as x86-64 images.
    EXPECT_NE(pending.text.find("Code Type:       X86-64\n"), std::string::npos);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    bool sawSelf = false;
    bool sawLibc = false;
    for (const auto& image : report.images()) {
        ASSERT_TRUE(image->codeType());
        EXPECT_EQ(image->codeType()->type(), 0x01000007u);
        if (image->imageName() == self) {
            sawSelf = true;
            EXPECT_TRUE(report.imageForAddress(reinterpret_cast<uint64_t>(&zelvCrashInNamedFunction)) == image);
        }
        if (image->imageName().find("/libc.so.6") != std::string::npos) {
            sawLibc = true;
            ASSERT_TRUE(image->hasImageUUID());
            EXPECT_EQ(image->imageUUID()->size(), 32u);
        }
    }
    EXPECT_TRUE(sawSelf);
    EXPECT_TRUE(sawLibc);
}

TEST_F(ElfReportTest, ACrashInsideTheCLibraryUnwindsBackIntoTheExecutable) {
    const Pending pending = crashAndLoad([] {
        zelvCallerOfTheLibraryCrash();
    });
    ASSERT_TRUE(pending.report);
    const auto lines = crashedThreadLines(pending.text);
    ASSERT_GE(lines.size(), 3u) << pending.text;
    EXPECT_EQ(lines[0].find("0   libc.so.6"), 0u) << pending.text;
    // The C library lists only its exported functions: code past the end of one is not given
    // that function's name.
    const std::string first = lines[0].substr(lines[0].find(" 0x") + 20);
    EXPECT_TRUE(first.rfind("0x", 0) == 0 || first.find("strlen") != std::string::npos) << lines[0];
    // strlen keeps no frame pointer; its call frame leads to the caller (past a sanitizer's
    // interceptor, when there is one), and on from there.
    const int measure = lineNaming(lines, "zelvMeasureBadString");
    EXPECT_GE(measure, 1) << pending.text;
    EXPECT_LE(measure, 2) << pending.text;
    EXPECT_EQ(lineNaming(lines, "zelvCallerOfTheLibraryCrash"), measure + 1) << pending.text;
}

TEST_F(ElfReportTest, EightyDeepThreadsStillLeaveRoomForTheCrashedThread) {
    const Pending pending = crashAndLoad(
        [] {
            static std::atomic<int> parked{0};
            for (int i = 0; i < 80; ++i)
                std::thread(zelvDescend, 600, &parked).detach();
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (parked.load() < 80 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (parked.load() < 80)
                _exit(12);
            // The crash is on the newest thread: listed last, after all the deep ones.
            std::thread(zelvCallerOfTheCrash).join();
        },
        SIGSEGV, 60000);
    ASSERT_TRUE(pending.report);
    EXPECT_LE(pending.bytes, 262144u);
    std::shared_ptr<TallyTLCrashReportThreadInfo> crashed;
    for (const auto& thread : pending.report->threads())
        if (thread->crashed())
            crashed = thread;
    ASSERT_TRUE(crashed) << "the crashed thread was left out";
    EXPECT_EQ(crashed->registers().size(), 18u);
    const auto lines = crashedThreadLines(pending.text);
    EXPECT_EQ(lineNaming(lines, "zelvCrashInNamedFunction"), 0) << pending.text;
    EXPECT_EQ(lineNaming(lines, "zelvCallerOfTheCrash"), 1);
    // The rest went to the other threads, as far as it reached.
    EXPECT_GT(pending.report->threads().size(), 2u);
    EXPECT_FALSE(pending.report->images().empty());
}

TEST_F(ElfReportTest, UncaughtExceptionsAreCutAndATerminateWithoutOneIsAnAbort) {
    Pending pending = crashAndLoad([] {
        freopen("/dev/null", "w", stderr);  // the runtime repeats the 300,000 bytes there
        // Thrown on a thread of its own: nothing on the way catches it.
        std::thread([] { throw std::runtime_error(std::string(300000, 'x')); }).join();
    }, SIGABRT);
    ASSERT_TRUE(pending.report);
    ASSERT_TRUE(pending.report->exceptionInfo());
    EXPECT_EQ(pending.report->exceptionInfo()->exceptionName(), "std::runtime_error");
    const std::string& reason = pending.report->exceptionInfo()->exceptionReason();
    EXPECT_EQ(reason, std::string(4096, 'x'));
    EXPECT_NE(pending.text.find("*** Terminating app due to uncaught exception 'std::runtime_error', reason: 'xxx"),
              std::string::npos);
    EXPECT_NE(crashedThreadLines(pending.text).size(), 0u);

    pending = crashAndLoad([] { std::terminate(); }, SIGABRT);
    ASSERT_TRUE(pending.report);
    EXPECT_FALSE(pending.report->exceptionInfo());
    EXPECT_EQ(pending.text.find("uncaught exception"), std::string::npos);
    EXPECT_EQ(pending.report->signalInfo()->name(), "SIGABRT");
}

// Waits, within a bound, until the reporter's own refresh lists an image holding the address
// under that name.
bool listedAs(const void* address, const std::string& name) {
    auto* images = TallyTLCrashReporter::sharedImageList();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        tlcrash_async_image_list_set_reading(images, true);
        auto* image = tlcrash_async_elf_image_containing_address(images, reinterpret_cast<uint64_t>(address));
        const bool listed = image != nullptr && name == image->name;
        tlcrash_async_image_list_set_reading(images, false);
        if (listed)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// In the child: a function of a library loaded now (and its handle), or the child ends.
void (*loadedFunction(const char* library, const char* name, void** handle = nullptr))() {
    void* opened = dlopen(library, RTLD_NOW);
    void* function = opened ? dlsym(opened, name) : nullptr;
    if (function == nullptr)
        _exit(12);
    if (handle)
        *handle = opened;
    return reinterpret_cast<void (*)()>(function);
}

// The late library is listed, unloaded, and the other one loaded at its address; then a
// crash in the other one, once the refresh has seen the swap or at once.
void swapLibrariesAndCrash(bool waitForRefresh) {
    void* handle = nullptr;
    Dl_info late{}, other{};
    auto crashInLate = loadedFunction(ZELV_CRASH_LATE_LIBRARY, "zelvLateLibraryCrash", &handle);
    if (!listedAs(reinterpret_cast<void*>(crashInLate), ZELV_CRASH_LATE_LIBRARY) ||
        !dladdr(reinterpret_cast<void*>(crashInLate), &late))
        _exit(13);
    dlclose(handle);
    auto crashInOther = loadedFunction(ZELV_CRASH_OTHER_LIBRARY, "zelvOtherLibraryCrash");
    if (!dladdr(reinterpret_cast<void*>(crashInOther), &other) || other.dli_fbase != late.dli_fbase)
        _exit(14);
    if (waitForRefresh && !listedAs(reinterpret_cast<void*>(crashInOther), ZELV_CRASH_OTHER_LIBRARY))
        _exit(15);
    crashInOther();
}

TEST_F(ElfReportTest, ALibraryLoadedAfterEnablingIsListedAndNamedAndAReplacedOneIsNeverMisnamed) {
    const std::string library = std::filesystem::path(ZELV_CRASH_LATE_LIBRARY).filename().string();
    const std::string other = std::filesystem::path(ZELV_CRASH_OTHER_LIBRARY).filename().string();
    Pending pending = crashAndLoad([] {
        auto crashInLibrary = loadedFunction(ZELV_CRASH_LATE_LIBRARY, "zelvLateLibraryCrash");
        // Listed by the reporter's own refresh, within its interval.
        listedAs(reinterpret_cast<void*>(crashInLibrary), ZELV_CRASH_LATE_LIBRARY);
        crashInLibrary();
    });
    ASSERT_TRUE(pending.report);
    auto lines = crashedThreadLines(pending.text);
    ASSERT_FALSE(lines.empty()) << pending.text;
    EXPECT_EQ(lines[0].find("0   " + library), 0u) << pending.text;
    EXPECT_EQ(lineNaming(lines, "zelvLateLibraryCrash"), 0) << pending.text;
    std::optional<std::string> lateBuildId;
    for (const auto& image : pending.report->images())
        if (image->imageName() == ZELV_CRASH_LATE_LIBRARY && image->hasImageUUID())
            lateBuildId = *image->imageUUID();
    ASSERT_TRUE(lateBuildId);

    // Unloaded, and the other library loaded at its address: once the refresh has run, the
    // report names the other library's file, function and build-id.
    pending = crashAndLoad([] { swapLibrariesAndCrash(true); });
    ASSERT_TRUE(pending.report);
    lines = crashedThreadLines(pending.text);
    ASSERT_FALSE(lines.empty()) << pending.text;
    EXPECT_EQ(lines[0].find("0   " + other), 0u) << pending.text;
    EXPECT_EQ(lineNaming(lines, "zelvOtherLibraryCrash"), 0) << pending.text;
    bool otherListed = false;
    for (const auto& image : pending.report->images()) {
        EXPECT_NE(image->imageName(), ZELV_CRASH_LATE_LIBRARY);
        if (image->imageName() == ZELV_CRASH_OTHER_LIBRARY) {
            otherListed = true;
            ASSERT_TRUE(image->hasImageUUID());
            EXPECT_NE(*image->imageUUID(), *lateBuildId);
        }
    }
    EXPECT_TRUE(otherListed) << pending.text;

    // A crash before the refresh has seen the swap: the old record is not taken for the new
    // library.
    pending = crashAndLoad([] { swapLibrariesAndCrash(false); });
    ASSERT_TRUE(pending.report);
    EXPECT_EQ(pending.text.find(library), std::string::npos) << pending.text;
    EXPECT_EQ(pending.text.find("zelvLateLibraryCrash"), std::string::npos) << pending.text;
}

TEST_F(ElfReportTest, RunningOutOfAddressSpaceKeepsTheCrashedThreadsFramesUpToMain) {
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the sanitizer's allocator ends the process itself when memory runs out";
#endif
#endif
    const Pending pending = crashAndLoad(
        [] {
            long pages = 0;
            std::ifstream("/proc/self/statm") >> pages;
            const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (64 << 20);
            rlimit bound{limit, limit};
            if (pages == 0 || setrlimit(RLIMIT_AS, &bound) != 0)
                _exit(12);
            zelvAllocateUntilRefused();
        },
        SIGABRT);
    ASSERT_TRUE(pending.report);
    ASSERT_TRUE(pending.report->exceptionInfo());
    EXPECT_EQ(pending.report->exceptionInfo()->exceptionName(), "std::bad_alloc");
    const auto lines = crashedThreadLines(pending.text);
    // From the C library's abort up through the allocating loop to main, and no frame twice.
    EXPECT_LT(lines.size(), 100u) << pending.text;
    EXPECT_GT(lineNaming(lines, "zelvAllocateUntilRefused"), 0) << pending.text;
    EXPECT_GT(lineNaming(lines, "main"), lineNaming(lines, "zelvAllocateUntilRefused")) << pending.text;
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_NE(lines[i].substr(4), lines[i - 1].substr(4)) << pending.text;
    // The test runner's C++ frames on the way are printed as their source names them.
    EXPECT_GT(lineNaming(lines, "testing::Test::Run()"), 0) << pending.text;
}

TEST_F(ElfReportTest, AStackOverflowOnAWorkQueueIsReported) {
    const Pending pending = crashAndLoad([] {
        platform::WorkQueue queue("com.example.deep");
        queue.async([] {
            volatile int depth = 0;
            zelvRecurseForever(&depth);
        });
        queue.waitUntilIdle();
    });
    ASSERT_TRUE(pending.report);
    EXPECT_EQ(lineNaming(crashedThreadLines(pending.text), "zelvRecurseForever"), 0) << pending.text;
}

std::vector<std::string> liveReportFiles(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind("live_crash_report.", 0) == 0)
            names.push_back(entry.path().filename().string());
    return names;
}

TEST_F(ElfReportTest, ACrashDuringLiveReportsTakesTheWriterOverAndItsWorkingFileGoesAtTheNextEnabling) {
    const std::string scratch = (root.path() / "tmp").string();
    std::filesystem::create_directories(scratch);
    const Pending pending = crashAndLoad([&] {
        setenv("TMPDIR", scratch.c_str(), 1);
        static std::atomic<int> live{0};
        std::thread([] {
            auto r = reporter();
            for (;;) {
                r->generateLiveReport();
                live.fetch_add(1);
            }
        }).detach();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (live.load() < 2 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        zelvCallerOfTheCrash();
    });
    ASSERT_TRUE(pending.report);
    EXPECT_FALSE(pending.report->threads().empty());
    EXPECT_EQ(lineNaming(crashedThreadLines(pending.text), "zelvCrashInNamedFunction"), 0) << pending.text;
    // An interrupted live report leaves its working file in the reporter's folder, never in
    // the shared temporary one; the next enabling removes what is there.
    EXPECT_TRUE(std::filesystem::is_empty(scratch));
    const auto folder = reporter()->crashReportDirectory();
    EXPECT_LE(liveReportFiles(folder).size(), 1u);
    std::ofstream(std::filesystem::path(folder) / "live_crash_report.Left0v") << "tlcrash";
    auto next = crash_test::runChild([] { _exit(reporter()->enableCrashReporter() ? 0 : 1); });
    EXPECT_EQ(next.exitCode, 0);
    EXPECT_TRUE(liveReportFiles(folder).empty());
}

}  // namespace
