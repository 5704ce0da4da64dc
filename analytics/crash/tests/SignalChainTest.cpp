// The callback chain and what it does with the action a signal had before. Every case runs in
// a child, which reports through its exit code or its end.
#include "analytics/crash/SignalHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <unistd.h>

#include "analytics/crash/tests/ReportDecoding.h"

namespace {

char order[8];
std::atomic<int> calls{0};

template <char Id, bool CallNext>
bool recordingCallback(int signo, siginfo_t* info, ucontext_t* uap, void*, const TallyTLCrashSignalHandlerNext* next) {
    order[calls.fetch_add(1)] = Id;
    if (CallNext && next != nullptr)
        return TallyTLCrashSignalHandlerCallNext(next, signo, info, uap);
    return false;
}

std::atomic<int> previousCalls{0};
siginfo_t previousInfo;
void* previousContext = nullptr;

void plainPrevious(int) { previousCalls.fetch_add(1); }
void infoPrevious(int, siginfo_t* info, void* uap) {
    previousCalls.fetch_add(1);
    previousInfo = *info;
    previousContext = uap;
}

void setAction(int signo, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signo, &action, nullptr);
}

bool registerSignal(int signo, TallyTLCrashSignalHandlerCallback callback) {
    return TallyTLCrashSignalHandler::sharedHandler()->registerHandlerForSignal(signo, callback, nullptr, nullptr);
}

TEST(CrashSignalChain, LaterCallbacksRunFirstAndPreviousActionsAreKept) {
    auto result = crash_test::runChild([] {
        setAction(SIGUSR2, plainPrevious);
        if (TallyTLCrashSignalHandler::isTrampolineInstalled(SIGUSR2))
            _exit(12);
        registerSignal(SIGUSR2, recordingCallback<'a', true>);
        if (!TallyTLCrashSignalHandler::isTrampolineInstalled(SIGUSR2))
            _exit(13);
        // A second registration must not save our own trampoline as the previous action.
        registerSignal(SIGUSR2, recordingCallback<'b', true>);
        raise(SIGUSR2);
        if (std::strncmp(order, "ba", 2) != 0 || calls.load() != 2)
            _exit(10);
        if (previousCalls.load() != 1)
            _exit(11);
        _exit(0);
    });
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
}

TEST(CrashSignalChain, AnInfoHandlerGetsTheSignalsInfoAndContext) {
    auto result = crash_test::runChild([] {
        struct sigaction action {};
        action.sa_sigaction = infoPrevious;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, nullptr);
        registerSignal(SIGUSR1, recordingCallback<'a', true>);
        sigval value;
        value.sival_int = 4242;
        sigqueue(getpid(), SIGUSR1, value);
        if (previousCalls.load() != 1 || previousInfo.si_value.sival_int != 4242 || previousContext == nullptr)
            _exit(10);
        _exit(0);
    });
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
}

TEST(CrashSignalChain, IgnoredDefaultAndEmptyChains) {
    // Ignored before: a sent signal stays ignored.
    auto ignored = crash_test::runChild([] {
        setAction(SIGUSR2, SIG_IGN);
        registerSignal(SIGUSR2, recordingCallback<'a', true>);
        raise(SIGUSR2);
        _exit(calls.load() == 1 ? 0 : 10);
    });
    EXPECT_EQ(ignored.exitCode, 0);

    // Ignored before, but raised by a fault: ignoring would fault again forever, so it ends
    // the process the default way.
    auto fault = crash_test::runChild([] {
        setAction(SIGSEGV, SIG_IGN);
        registerSignal(SIGSEGV, recordingCallback<'a', true>);
        asm volatile("xorl %%eax, %%eax\n\tmovl $1, (%%rax)" ::: "rax", "memory");
        _exit(10);
    }, 10000);
    EXPECT_FALSE(fault.timedOut);
    EXPECT_TRUE(fault.signaled);
    EXPECT_EQ(fault.signal, SIGSEGV);

    // Default before: not handled, so the signal is raised again and ends the process once.
    auto byDefault = crash_test::runChild([] {
        setAction(SIGUSR2, SIG_DFL);
        registerSignal(SIGUSR2, recordingCallback<'a', false>);
        raise(SIGUSR2);
        _exit(10);
    }, 10000);
    EXPECT_FALSE(byDefault.timedOut);
    EXPECT_EQ(byDefault.signal, SIGUSR2);

    // No callbacks left: the trampoline gives up and the signal ends the process.
    auto empty = crash_test::runChild([] {
        setAction(SIGUSR2, SIG_DFL);
        registerSignal(SIGUSR2, recordingCallback<'a', true>);
        TallyTLCrashSignalHandler::resetHandlers();
        raise(SIGUSR2);
        _exit(10);
    }, 10000);
    EXPECT_FALSE(empty.timedOut);
    EXPECT_EQ(empty.signal, SIGUSR2);
}

TEST(CrashSignalChain, EachRegisteringThreadHasItsOwnAlternateStack) {
    auto result = crash_test::runChild([] {
        registerSignal(SIGUSR2, recordingCallback<'a', true>);
        stack_t mine{};
        sigaltstack(nullptr, &mine);
        stack_t theirs{};
        std::thread([&] {
            registerSignal(SIGUSR2, recordingCallback<'b', true>);
            sigaltstack(nullptr, &theirs);
        }).join();
        if (mine.ss_sp == nullptr || theirs.ss_sp == nullptr || mine.ss_sp == theirs.ss_sp)
            _exit(10);
        if (mine.ss_size != TallyTLCrashSignalHandler::kAlternateStackSize)
            _exit(11);
        _exit(0);
    });
    EXPECT_EQ(result.exitCode, 0);
}

}  // namespace
