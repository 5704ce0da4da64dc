// Gathering the writer's facts, outside the crash path.
#include "analytics/crash/LogWriter.h"
#include "analytics/crash/TallyTLCrashProcessInfo.h"
#include "analytics/crash/ThreadSuspension.h"
#include "platform/base/DeviceFacts.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/utsname.h>
#include <unistd.h>
#include <uuid/uuid.h>

namespace {

std::string deviceSystemVersion() { return platform::DeviceFacts::systemVersion(); }

std::atomic<std::string (*)()> osVersionSource{deviceSystemVersion};

char* copyString(const char* s) { return s ? strdup(s) : nullptr; }
char* copyString(const std::string& s) { return strdup(s.c_str()); }

// An exception's name or reason is kept to this many bytes: the whole report has 256 KiB, and
// a message bigger than that would leave no report at all.
constexpr size_t kMaxExceptionText = 4096;

// Cut at a character boundary, so the kept text stays valid UTF-8.
char* copyCut(const char* s) {
    size_t length = strlen(s);
    if (length > kMaxExceptionText) {
        length = kMaxExceptionText;
        while (length > 0 && (static_cast<unsigned char>(s[length]) & 0xC0) == 0x80)
            --length;
    }
    return strndup(s, length);
}

// x86-64 in the report's processor numbering (type with the 64-bit flag, subtype "all").
constexpr uint64_t kCpuTypeX86_64 = 0x01000007;
constexpr uint64_t kCpuSubtypeX86_64All = 3;

}  // namespace

void Tallytlcrash_log_writer_set_os_version_source(std::string (*source)()) {
    osVersionSource.store(source ? source : deviceSystemVersion);
}

tlcrash_error_t Tallytlcrash_log_writer_init(Tallytlcrash_log_writer* writer, const char* app_identifier,
                                             const char* app_version, const char* app_marketing_version,
                                             uint32_t symbolication_strategy, bool user_requested) {
    std::memset(writer, 0, sizeof *writer);
    if (app_identifier == nullptr || app_version == nullptr)
        return TLCRASH_EINVAL;
    auto self = TallyTLCrashProcessInfo::currentProcessInfo();
    if (!self)
        return TLCRASH_EINVAL;

    writer->symbolication_strategy = symbolication_strategy;
    writer->user_requested = user_requested;
    uuid_t uuid;
    uuid_generate_random(uuid);
    std::memcpy(writer->uuid, uuid, sizeof writer->uuid);

    utsname names{};
    const bool haveNames = uname(&names) == 0;
    writer->system_info.version = copyString(osVersionSource.load()());
    writer->system_info.build = haveNames ? copyString(names.version) : nullptr;

    const std::string machine = platform::DeviceFacts::machine();
    writer->machine_info.model = machine.empty() ? nullptr : copyString(machine);
    writer->machine_info.cpu_type = kCpuTypeX86_64;
    writer->machine_info.cpu_subtype = kCpuSubtypeX86_64All;
    const long processors = sysconf(_SC_NPROCESSORS_CONF);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    writer->machine_info.processor_count = processors > 0 ? static_cast<uint32_t>(processors) : 0;
    writer->machine_info.logical_processor_count = online > 0 ? static_cast<uint32_t>(online) : 0;

    writer->application_info.id = copyString(app_identifier);
    writer->application_info.version = copyString(app_version);
    writer->application_info.marketing_version = copyString(app_marketing_version);

    writer->process_info.process_name = self->processName() ? copyString(*self->processName()) : nullptr;
    writer->process_info.process_id = static_cast<uint32_t>(self->processID());
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        path[length] = 0;
        writer->process_info.process_path = copyString(path);
    }
    writer->process_info.start_time = static_cast<uint64_t>(self->startTime().seconds);
    writer->process_info.parent_process_id = static_cast<uint32_t>(self->parentProcessID());
    if (auto parent = TallyTLCrashProcessInfo::initWithProcessID(self->parentProcessID()); parent && parent->processName())
        writer->process_info.parent_process_name = copyString(*parent->processName());
    // No translation layer runs programs of another processor here.
    writer->process_info.native = true;

    tlcrash_async_thread_suspension_install();
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return TLCRASH_ESUCCESS;
}

void Tallytlcrash_log_writer_set_exception(Tallytlcrash_log_writer* writer, const char* name, const char* reason,
                                           const uint64_t* return_addresses, size_t count) {
    if (writer->uncaught_exception.has_exception)
        abort();  // one exception per process: it ends in abort()
    writer->uncaught_exception.name = copyCut(name ? name : "");
    writer->uncaught_exception.reason = copyCut(reason ? reason : "");
    writer->uncaught_exception.callstack = static_cast<uint64_t*>(malloc(sizeof(uint64_t) * (count ? count : 1)));
    if (writer->uncaught_exception.callstack == nullptr)
        count = 0;  // out of memory: the name and reason still tell the most
    if (count > 0)
        std::memcpy(writer->uncaught_exception.callstack, return_addresses, sizeof(uint64_t) * count);
    writer->uncaught_exception.callstack_count = count;
    writer->uncaught_exception.has_exception = true;
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

tlcrash_error_t Tallytlcrash_log_writer_close(Tallytlcrash_log_writer*) { return TLCRASH_ESUCCESS; }

void Tallytlcrash_log_writer_free(Tallytlcrash_log_writer* writer) {
    for (char* s : {writer->system_info.version, writer->system_info.build, writer->machine_info.model,
                    writer->application_info.id, writer->application_info.version,
                    writer->application_info.marketing_version, writer->process_info.process_name,
                    writer->process_info.process_path, writer->process_info.parent_process_name,
                    writer->uncaught_exception.name, writer->uncaught_exception.reason})
        free(s);
    free(writer->uncaught_exception.callstack);
    std::memset(writer, 0, sizeof *writer);
}
