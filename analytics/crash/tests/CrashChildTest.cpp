// Real crashes in forked children: each must leave one decodable report and still die by
// its own signal.
#include "analytics/crash/CrashCallback.h"
#include "testing/TestPaths.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "analytics/crash/tests/ReportDecoding.h"

namespace {

enum class Crash { NullWrite, Abort, DivideByZero, InvalidOpcode, Breakpoint, MappedPastEnd };

tlcrash_crash_context crashContext;
int userCallbackPipe = -1;

void userCallback(siginfo_t* info, ucontext_t*, void* context) {
    char mark = static_cast<char>(info->si_signo);
    (void)!write(*static_cast<int*>(context), &mark, 1);
}

// What a program does to switch crash reporting on, in the child.
void enableCrashReports(const std::filesystem::path& path) {
    // The test runner's own handlers (sanitizers) would otherwise be the previous actions.
    for (int signo : TLCRASH_FATAL_SIGNALS)
        signal(signo, SIG_DFL);
    if (Tallytlcrash_log_writer_init(&crashContext.writer, "com.example.zelv", "7", nullptr, 0, false) != 0)
        _exit(90);
    tlcrash_crash_context_set_path(&crashContext, path.c_str());
    if (userCallbackPipe >= 0) {
        crashContext.user_callback = userCallback;
        crashContext.user_context = &userCallbackPipe;
    }
    for (int signo : TLCRASH_FATAL_SIGNALS) {
        if (!TallyTLCrashSignalHandler::sharedHandler()->registerHandlerForSignal(signo, tlcrash_crash_signal_callback,
                                                                                 &crashContext, nullptr))
            _exit(91);
    }
}

__attribute__((noinline)) void spinInKnownFunction(std::atomic<int>* running) {
    running->fetch_add(1);
    for (;;)
        asm volatile("pause" ::: "memory");
}

void startSpinners(int count) {
    static std::atomic<int> running{0};
    for (int i = 0; i < count; ++i)
        std::thread(spinInKnownFunction, &running).detach();
    while (running.load() < count)
        std::this_thread::yield();
}

volatile uint8_t* pastTheEnd = nullptr;

__attribute__((noinline)) void crashNow(Crash kind) {
    switch (kind) {
    case Crash::NullWrite:
        asm volatile("xorl %%eax, %%eax\n\tmovl $1, (%%rax)" ::: "rax", "memory");
        break;
    case Crash::Abort:
        abort();
    case Crash::DivideByZero:
        asm volatile("xorl %%ecx, %%ecx\n\tmovl $1, %%eax\n\tcltd\n\tidivl %%ecx" ::: "rax", "rcx", "rdx");
        break;
    case Crash::InvalidOpcode:
        asm volatile("ud2");
        break;
    case Crash::Breakpoint:
        asm volatile("int3");
        break;
    case Crash::MappedPastEnd:
        pastTheEnd[0] = 1;
        break;
    }
    asm volatile("" ::: "memory");
}
__attribute__((noinline)) void crashMiddle(Crash kind) {
    crashNow(kind);
    asm volatile("" ::: "memory");
}
__attribute__((noinline)) void crashOuter(Crash kind) {
    crashMiddle(kind);
    asm volatile("" ::: "memory");
}

struct Case {
    Crash kind;
    int signal;
    const char* name;
    const char* code;
};

TEST(CrashChild, EveryFaultLeavesADecodableReportAndDiesByItsSignal) {
    const Case cases[] = {
        {Crash::NullWrite, SIGSEGV, "SIGSEGV", "SEGV_MAPERR"},
        {Crash::Abort, SIGABRT, "SIGABRT", "#0"},
        {Crash::DivideByZero, SIGFPE, "SIGFPE", "FPE_INTDIV"},
        {Crash::InvalidOpcode, SIGILL, "SIGILL", "ILL_ILLOPN"},
        {Crash::Breakpoint, SIGTRAP, "SIGTRAP", "TRAP_BRKPT"},
        {Crash::MappedPastEnd, SIGBUS, "SIGBUS", "BUS_ADRERR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::TempDir dir;
        const auto path = dir / "live_report.tlcrash";
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        auto result = crash_test::runChild([&] {
            close(pipeFds[0]);
            userCallbackPipe = pipeFds[1];
            if (c.kind == Crash::MappedPastEnd) {
                // The file ends inside the first page; the second page has nothing behind it.
                int fd = open((dir / "short").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
                (void)!ftruncate(fd, 100);
                auto* map = static_cast<uint8_t*>(mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
                pastTheEnd = map + 4096;
            }
            enableCrashReports(path);
            startSpinners(2);
            crashOuter(c.kind);
            _exit(3);
        });
        close(pipeFds[1]);
        ASSERT_FALSE(result.timedOut);
        EXPECT_TRUE(result.signaled);
        EXPECT_EQ(result.signal, c.signal);
        char mark = 0;
        EXPECT_EQ(read(pipeFds[0], &mark, 1), 1) << "user callback did not run";
        EXPECT_EQ(mark, c.signal);
        close(pipeFds[0]);

        auto report = crash_test::decodeReport(crash_test::readFile(path));
        ASSERT_TRUE(report) << "no decodable report";
        EXPECT_FALSE(std::filesystem::exists(dir / "live_report.tlcrash.partial"));
        EXPECT_EQ(std::string(report->signal->name), c.name);
        EXPECT_EQ(std::string(report->signal->code), c.code);
        EXPECT_FALSE(report->report_info->user_requested);
        if (c.kind == Crash::NullWrite) {
            EXPECT_EQ(report->signal->address, 0u);
        }

        size_t crashed = 0;
        size_t spinning = 0;
        for (size_t i = 0; i < report->n_threads; ++i) {
            const auto* t = report->threads[i];
            if (t->crashed) {
                ++crashed;
                ASSERT_EQ(t->n_registers, 18u);
                EXPECT_EQ(std::string(t->registers[1]->name), "rbp");
                ASSERT_GT(t->n_frames, 0u);
                EXPECT_EQ(t->registers[0]->value, t->frames[0]->pc);
                // abort() runs through the C library, whose frames need not keep a frame pointer.
                if (c.kind != Crash::Abort) {
                    EXPECT_TRUE(crash_test::hasFrameIn(t, reinterpret_cast<void*>(crashNow), 1024));
                    EXPECT_TRUE(crash_test::hasFrameIn(t, reinterpret_cast<void*>(crashMiddle)));
                    EXPECT_TRUE(crash_test::hasFrameIn(t, reinterpret_cast<void*>(crashOuter)));
                }
            } else if (crash_test::hasFrameIn(t, reinterpret_cast<void*>(spinInKnownFunction), 128)) {
                ++spinning;
            }
        }
        EXPECT_EQ(crashed, 1u);
        EXPECT_EQ(spinning, 2u);
    }
}

volatile int recursionStop = -1;

__attribute__((noinline)) int recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == recursionStop)
        return 0;
    return recurse(depth + 1) + frame[0];
}

TEST(CrashChild, StackOverflowIsReportedFromTheAlternateStack) {
    testing_support::TempDir dir;
    const auto path = dir / "live_report.tlcrash";
    auto result = crash_test::runChild([&] {
        enableCrashReports(path);
        recurse(0);
        _exit(3);
    });
    ASSERT_FALSE(result.timedOut);
    EXPECT_TRUE(result.signaled);
    EXPECT_EQ(result.signal, SIGSEGV);
    auto report = crash_test::decodeReport(crash_test::readFile(path));
    ASSERT_TRUE(report);
    EXPECT_EQ(std::string(report->signal->name), "SIGSEGV");
    const Tlcrash__CrashReport__Thread* crashed = nullptr;
    for (size_t i = 0; i < report->n_threads; ++i)
        if (report->threads[i]->crashed)
            crashed = report->threads[i];
    ASSERT_NE(crashed, nullptr);
    // The walk is cut at 512 frames, nearly all of them in the recursion.
    EXPECT_EQ(crashed->n_frames, 512u);
    size_t inRecursion = 0;
    const auto start = reinterpret_cast<uint64_t>(recurse);
    for (size_t i = 0; i < crashed->n_frames; ++i)
        if (crashed->frames[i]->pc >= start && crashed->frames[i]->pc < start + 512)
            ++inRecursion;
    EXPECT_GE(inRecursion, 500u);
}

TEST(CrashChild, ThreadsCrashingAtOnceLeaveOneReport) {
    testing_support::TempDir dir;
    const auto path = dir / "live_report.tlcrash";
    constexpr int kThreads = 8;
    auto result = crash_test::runChild([&] {
        enableCrashReports(path);
        static std::atomic<int> ready{0};
        static std::atomic<bool> go{false};
        for (int i = 0; i < kThreads; ++i) {
            std::thread([] {
                ready.fetch_add(1);
                while (!go.load())
                    asm volatile("pause");
                crashOuter(Crash::NullWrite);
            }).detach();
        }
        while (ready.load() < kThreads)
            std::this_thread::yield();
        go = true;
        for (;;)
            pause();
    });
    ASSERT_FALSE(result.timedOut);
    EXPECT_TRUE(result.signaled);
    EXPECT_EQ(result.signal, SIGSEGV);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        files.push_back(entry.path().filename());
    EXPECT_EQ(files, std::vector<std::string>{"live_report.tlcrash"});
    auto report = crash_test::decodeReport(crash_test::readFile(path));
    ASSERT_TRUE(report);
    size_t crashed = 0;
    for (size_t i = 0; i < report->n_threads; ++i)
        crashed += report->threads[i]->crashed ? 1 : 0;
    EXPECT_EQ(crashed, 1u);
    EXPECT_EQ(report->n_threads, static_cast<size_t>(kThreads + 1));
}

TEST(CrashChild, AFailedWriteKeepsTheEarlierReport) {
    testing_support::TempDir dir;
    const auto path = dir / "live_report.tlcrash";
    // A report from an earlier run is waiting.
    auto first = crash_test::runChild([&] {
        enableCrashReports(path);
        crashOuter(Crash::InvalidOpcode);
    });
    ASSERT_EQ(first.signal, SIGILL);
    const auto earlier = crash_test::readFile(path);
    ASSERT_TRUE(crash_test::decodeReport(earlier));
    // This time the new report cannot be written (a folder stands where it would go): the
    // crash still ends the process, and the pending report is left as it was.
    std::filesystem::create_directory(dir / "live_report.tlcrash.partial");
    auto second = crash_test::runChild([&] {
        enableCrashReports(path);
        crashOuter(Crash::NullWrite);
    });
    EXPECT_EQ(second.signal, SIGSEGV);
    EXPECT_EQ(crash_test::readFile(path), earlier);
    std::filesystem::remove(dir / "live_report.tlcrash.partial");
    // A crash with a report pending replaces it once the new one is complete.
    auto third = crash_test::runChild([&] {
        enableCrashReports(path);
        crashOuter(Crash::Breakpoint);
    });
    EXPECT_EQ(third.signal, SIGTRAP);
    auto report = crash_test::decodeReport(crash_test::readFile(path));
    ASSERT_TRUE(report);
    EXPECT_EQ(std::string(report->signal->name), "SIGTRAP");
}

}  // namespace
