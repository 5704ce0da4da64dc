#pragma once
// The crash report writer. Everything it needs is gathered by init beforehand; writing
// streams protocol-buffer fields into a report file from inside a crashed process.
#include "analytics/crash/AsyncImageList.h"
#include "analytics/crash/AsyncThreadState.h"
#include "analytics/crash/ReportFile.h"

#include <string>

struct Tallytlcrash_log_writer {
    uint32_t symbolication_strategy;
    bool user_requested;
    uint8_t uuid[16];
    struct {
        char* version;
        char* build;  // may be null
    } system_info;
    struct {
        char* model;  // may be null
        uint64_t cpu_type;
        uint64_t cpu_subtype;
        uint32_t processor_count;
        uint32_t logical_processor_count;
    } machine_info;
    struct {
        char* id;
        char* version;
        char* marketing_version;  // may be null
    } application_info;
    struct {
        char* process_name;  // may be null
        uint32_t process_id;
        char* process_path;  // may be null
        uint64_t start_time;
        char* parent_process_name;  // may be null
        uint32_t parent_process_id;
        bool native;
    } process_info;
    struct {
        bool has_exception;
        char* name;
        char* reason;
        uint64_t* callstack;
        size_t callstack_count;
    } uncaught_exception;
};

struct tlcrash_log_mach_signal_info {
    uint64_t type;
    const uint64_t* code;
    size_t code_count;
};

// Signal number and code in the report's numbering (see SignalNumbers.h).
struct tlcrash_log_signal_info {
    int signo;
    int code;
    uint64_t address;
    const tlcrash_log_mach_signal_info* mach_info;  // may be null
};

// Where the operating system version comes from; the device facts unless a test sets one.
void Tallytlcrash_log_writer_set_os_version_source(std::string (*source)());

tlcrash_error_t Tallytlcrash_log_writer_init(Tallytlcrash_log_writer* writer, const char* app_identifier,
                                             const char* app_version, const char* app_marketing_version,
                                             uint32_t symbolication_strategy, bool user_requested);
void Tallytlcrash_log_writer_set_exception(Tallytlcrash_log_writer* writer, const char* name, const char* reason,
                                           const uint64_t* return_addresses, size_t count);
// Writes a whole report. Other threads are stopped while it runs; the calling thread is
// written only with current_state. A report that would pass the file's limit is cut: frames,
// then threads, then images are left out, so it always holds the signal and decodes. A report
// that is not a crash's gives TLCRASH_ENOTFOUND and writes nothing when crashed_thread is not a
// thread of this process.
tlcrash_error_t Tallytlcrash_log_writer_write(Tallytlcrash_log_writer* writer, tlcrash_thread_t crashed_thread,
                                              tlcrash_async_image_list* image_list, report_file* file,
                                              const tlcrash_log_signal_info* siginfo,
                                              const tlcrash_async_thread_state* current_state);
tlcrash_error_t Tallytlcrash_log_writer_close(Tallytlcrash_log_writer* writer);
void Tallytlcrash_log_writer_free(Tallytlcrash_log_writer* writer);

// How long the writer waits for the other threads to stop.
constexpr uint32_t TLCRASH_SUSPEND_TIMEOUT_MS = 500;
// Most frames written for one thread or exception.
constexpr uint32_t TLCRASH_MAX_FRAMES = 512;
