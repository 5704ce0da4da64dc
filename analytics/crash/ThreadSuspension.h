#pragma once
// Stops the other threads of the process for the report writer: each is sent a reserved
// real-time signal whose handler parks it and leaves its registers in a preallocated slot.
#include "analytics/crash/AsyncSupport.h"

#include <ucontext.h>

// Most threads a report lists; later ones are left out.
constexpr size_t TLCRASH_MAX_THREADS = 256;

struct tlcrash_thread_list {
    tlcrash_thread_t threads[TLCRASH_MAX_THREADS];
    size_t count;
};

// Installs the parking handler; called once outside the crash path.
bool tlcrash_async_thread_suspension_install();
// The threads of the own process, from /proc/self/task.
tlcrash_error_t tlcrash_async_task_threads(tlcrash_thread_list* list);
// True when the id names a live thread of the own process (not of another process).
bool tlcrash_async_thread_is_own(tlcrash_thread_t thread);
// Asks every listed thread but the caller to park and waits, bounded by timeout_ms, for them.
void tlcrash_async_threads_suspend(const tlcrash_thread_list* list, uint32_t timeout_ms);
void tlcrash_async_threads_resume();
// The registers of a parked thread, or null when it did not park in time.
const ucontext_t* tlcrash_async_thread_suspension_context(tlcrash_thread_t thread);
