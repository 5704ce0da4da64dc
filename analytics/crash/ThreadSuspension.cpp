#include "analytics/crash/ThreadSuspension.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

enum SlotState : int { Idle = 0, Requested = 1, Parked = 2, Left = 3 };

struct Slot {
    std::atomic<int> tid;
    std::atomic<int> state;
    ucontext_t context;
};

Slot slots[TLCRASH_MAX_THREADS];
std::atomic<size_t> slotCount{0};
std::atomic<int> releaseGeneration{0};
std::atomic<int> parkSignal{0};

// A parked thread gives up after this long even without a release, so a writer that
// never comes back cannot hold the process still forever.
constexpr int64_t kParkLimitMs = 10000;

int64_t nowMs() {
    timespec ts{};
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void futexWait(std::atomic<int>* word, int expected, int64_t waitMs) {
    if (waitMs <= 0)
        return;
    timespec ts{static_cast<time_t>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1000000};
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, expected, &ts, nullptr, 0);
}

void futexWakeAll(std::atomic<int>* word) {
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

void parkHandler(int, siginfo_t*, void* uap) {
    int savedErrno = errno;
    const auto self = static_cast<int>(syscall(SYS_gettid));
    const int generation = releaseGeneration.load();
    for (size_t i = 0; i < slotCount; ++i) {
        Slot& slot = slots[i];
        if (slot.tid.load() != self)
            continue;
        // Only the registers: the kernel's frame is smaller than libc's ucontext_t.
        tlcrash_async_memcpy(&slot.context.uc_mcontext, &static_cast<ucontext_t*>(uap)->uc_mcontext,
                             sizeof slot.context.uc_mcontext);
        int expected = Requested;
        // The writer may have given up on this thread already; then run on.
        if (!slot.state.compare_exchange_strong(expected, Parked))
            break;
        futexWakeAll(&slot.state);
        const int64_t deadline = nowMs() + kParkLimitMs;
        while (releaseGeneration.load() == generation) {
            int64_t left = deadline - nowMs();
            if (left <= 0)
                break;
            futexWait(&releaseGeneration, generation, left);
        }
        slot.state.store(Left);
        futexWakeAll(&slot.state);
        break;
    }
    errno = savedErrno;
}

struct linux_dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

}  // namespace

bool tlcrash_async_thread_suspension_install() {
    if (parkSignal.load() != 0)
        return true;
    // The highest real-time signal is left alone by libc and by the rest of the program.
    const int signo = SIGRTMAX;
    struct sigaction action {};
    action.sa_sigaction = parkHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (sigaction(signo, &action, nullptr) != 0)
        return false;
    parkSignal.store(signo);
    return true;
}

tlcrash_error_t tlcrash_async_task_threads(tlcrash_thread_list* list) {
    list->count = 0;
    int saved = errno;
    const int fd = static_cast<int>(syscall(SYS_open, "/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd < 0) {
        errno = saved;
        return TLCRASH_EINTERNAL;
    }
    alignas(8) char buffer[2048];
    for (;;) {
        long got = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (long offset = 0; offset < got;) {
            auto* entry = reinterpret_cast<linux_dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            int tid = 0;
            const char* c = entry->d_name;
            if (*c < '0' || *c > '9')
                continue;
            for (; *c >= '0' && *c <= '9'; ++c)
                tid = tid * 10 + (*c - '0');
            if (list->count < TLCRASH_MAX_THREADS)
                list->threads[list->count++] = tid;
        }
    }
    syscall(SYS_close, fd);
    errno = saved;
    return TLCRASH_ESUCCESS;
}

bool tlcrash_async_thread_is_own(tlcrash_thread_t thread) {
    int saved = errno;
    // Signal 0 only checks; the kernel refuses a thread outside this thread group.
    const bool own = thread > 0 && syscall(SYS_tgkill, tlcrash_async_task_self(), thread, 0) == 0;
    errno = saved;
    return own;
}

void tlcrash_async_threads_suspend(const tlcrash_thread_list* list, uint32_t timeout_ms) {
    const int signo = parkSignal.load();
    const tlcrash_thread_t self = tlcrash_async_thread_self();
    const tlcrash_task_t pid = tlcrash_async_task_self();
    int saved = errno;
    size_t count = 0;
    for (size_t i = 0; i < list->count && signo != 0; ++i) {
        if (list->threads[i] == self)
            continue;
        Slot& slot = slots[count++];
        slot.state.store(Requested);
        slot.tid.store(list->threads[i]);
    }
    slotCount.store(count);
    for (size_t i = 0; i < slotCount; ++i) {
        if (syscall(SYS_tgkill, pid, slots[i].tid.load(), signo) != 0) {
            int expected = Requested;
            slots[i].state.compare_exchange_strong(expected, Idle);
        }
    }
    const int64_t deadline = nowMs() + timeout_ms;
    for (size_t i = 0; i < slotCount; ++i) {
        Slot& slot = slots[i];
        for (;;) {
            int state = slot.state.load();
            if (state != Requested)
                break;
            int64_t left = deadline - nowMs();
            if (left <= 0) {
                // Too late: the thread is written without registers and must not park.
                int expected = Requested;
                slot.state.compare_exchange_strong(expected, Idle);
                break;
            }
            futexWait(&slot.state, Requested, left);
        }
    }
    errno = saved;
}

void tlcrash_async_threads_resume() {
    int saved = errno;
    releaseGeneration.fetch_add(1);
    futexWakeAll(&releaseGeneration);
    const int64_t deadline = nowMs() + 1000;
    for (size_t i = 0; i < slotCount; ++i) {
        Slot& slot = slots[i];
        while (slot.state.load() == Parked) {
            int64_t left = deadline - nowMs();
            if (left <= 0)
                break;
            futexWait(&slot.state, Parked, left);
        }
        slot.tid.store(0);
        slot.state.store(Idle);
    }
    slotCount.store(0);
    errno = saved;
}

const ucontext_t* tlcrash_async_thread_suspension_context(tlcrash_thread_t thread) {
    for (size_t i = 0; i < slotCount; ++i) {
        if (slots[i].tid.load() == thread && slots[i].state.load() == Parked)
            return &slots[i].context;
    }
    return nullptr;
}
