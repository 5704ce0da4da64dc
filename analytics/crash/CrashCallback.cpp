#include "analytics/crash/CrashCallback.h"

#include "analytics/crash/SignalNumbers.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The thread writing the crash report, 0 while none is.
std::atomic<int> writingThread{0};

void resetFatalSignals() {
    struct sigaction action;
    tlcrash_async_memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signo : TLCRASH_FATAL_SIGNALS)
        sigaction(signo, &action, nullptr);
}

void waitForTheEnd(uint32_t ms) {
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed >= ms)
            return;
        timespec pause{0, 10 * 1000000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace

void tlcrash_crash_context_set_path(tlcrash_crash_context* context, const char* report_path) {
    free(context->report_path);
    free(context->temp_path);
    context->report_path = strdup(report_path);
    const size_t length = strlen(report_path);
    context->temp_path = static_cast<char*>(malloc(length + sizeof ".partial"));
    memcpy(context->temp_path, report_path, length);
    memcpy(context->temp_path + length, ".partial", sizeof ".partial");
}

void tlcrash_crash_context_free(tlcrash_crash_context* context) {
    free(context->report_path);
    free(context->temp_path);
    context->report_path = nullptr;
    context->temp_path = nullptr;
}

tlcrash_error_t tlcrash_write_report_to_path(tlcrash_crash_context* context, tlcrash_thread_t crashed_thread,
                                             const tlcrash_log_signal_info* siginfo,
                                             const tlcrash_async_thread_state* state) {
    const int savedErrno = errno;
    const int fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, context->temp_path,
                                            O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd < 0) {
        errno = savedErrno;
        return TLCRASH_OUTPUT_ERR;
    }
    report_file file;
    report_file_init(&file, fd, TLCRASH_REPORT_LIMIT);
    tlcrash_error_t err =
        Tallytlcrash_log_writer_write(&context->writer, crashed_thread, context->image_list, &file, siginfo, state);
    if (!report_file_close(&file) && err == TLCRASH_ESUCCESS)
        err = TLCRASH_OUTPUT_ERR;
    if (err == TLCRASH_ESUCCESS &&
        syscall(SYS_renameat, AT_FDCWD, context->temp_path, AT_FDCWD, context->report_path) != 0)
        err = TLCRASH_OUTPUT_ERR;
    if (err != TLCRASH_ESUCCESS)
        syscall(SYS_unlinkat, AT_FDCWD, context->temp_path, 0);
    errno = savedErrno;
    return err;
}

bool tlcrash_crash_signal_callback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                                   const TallyTLCrashSignalHandlerNext*) {
    auto* crash = static_cast<tlcrash_crash_context*>(context);
    const tlcrash_thread_t self = tlcrash_async_thread_self();
    int expected = 0;
    if (!writingThread.compare_exchange_strong(expected, self)) {
        // Another thread is writing: let it finish and end the process. A second fault on the
        // writing thread itself ends the process at once.
        if (expected != self)
            waitForTheEnd(TLCRASH_SECOND_CRASH_WAIT_MS);
        resetFatalSignals();
        return false;
    }

    tlcrash_async_thread_state state;
    tlcrash_async_thread_state_from_ucontext(&state, uap);
    tlcrash_log_signal_info signal{};
    signal.signo = tlcrash_signal_report_number(signo);
    signal.code = tlcrash_signal_report_code(signo, info->si_code);
    // Only a fault the kernel raised has an address; for kill and raise the field holds the sender.
    signal.address = info->si_code > 0 ? reinterpret_cast<uint64_t>(info->si_addr) : 0;
    if (tlcrash_write_report_to_path(crash, self, &signal, &state) == TLCRASH_ESUCCESS &&
        crash->user_callback != nullptr)
        crash->user_callback(info, uap, crash->user_context);
    for (const char* piece : crash->stderr_note) {
        if (piece == nullptr)
            break;
        for (size_t at = 0, length = tlcrash_async_strlen(piece); at < length;) {
            const ssize_t written = write(STDERR_FILENO, piece + at, length - at);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                break;
            at += static_cast<size_t>(written);
        }
    }
    // From here on these signals take their default action: the re-raise ends the process.
    resetFatalSignals();
    return false;
}
