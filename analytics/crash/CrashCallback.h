#pragma once
// What a crash does: the signal callback that writes the report to the prepared path.
#include "analytics/crash/LogWriter.h"
#include "analytics/crash/SignalHandler.h"

// The limit of a report written for a crash.
constexpr uint64_t TLCRASH_REPORT_LIMIT = 262144;

// Everything the crash path reads, prepared beforehand.
struct tlcrash_crash_context {
    Tallytlcrash_log_writer writer;
    char* report_path;
    char* temp_path;  // same folder; renamed over report_path once complete
    tlcrash_async_image_list* image_list;
    void (*user_callback)(siginfo_t* info, ucontext_t* uap, void* context);
    void* user_context;
    // Written to stderr once the report is done, in order up to the first null: what the
    // runtime would have printed itself had the reporter not been there.
    const char* stderr_note[5];
};

// The six signals a crash raises, in the order they are registered.
constexpr int TLCRASH_FATAL_SIGNALS[6] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP};

// Copies the path (and derives the temporary path); the writer is initialised by the caller.
void tlcrash_crash_context_set_path(tlcrash_crash_context* context, const char* report_path);
void tlcrash_crash_context_free(tlcrash_crash_context* context);

// Writes a report to the context's path: a complete report replaces the old one, a failed one
// leaves it alone.
tlcrash_error_t tlcrash_write_report_to_path(tlcrash_crash_context* context, tlcrash_thread_t crashed_thread,
                                             const tlcrash_log_signal_info* siginfo,
                                             const tlcrash_async_thread_state* state);

// The chain callback for the fatal signals; context is a tlcrash_crash_context. Always answers
// not handled, so the signal goes on to end the process.
bool tlcrash_crash_signal_callback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                                   const TallyTLCrashSignalHandlerNext* next);

// How long a thread that crashes while another writes waits for the process to end.
constexpr uint32_t TLCRASH_SECOND_CRASH_WAIT_MS = 5000;
