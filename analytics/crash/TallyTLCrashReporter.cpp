#include "analytics/crash/TallyTLCrashReporter.h"

#include "analytics/crash/AsyncMObject.h"
#include "analytics/crash/CrashCallback.h"
#include "analytics/crash/ElfImageScan.h"
#include "analytics/crash/SignalNumbers.h"
#include "platform/base/AlternateSignalStack.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/Directories.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>

const char* const TallyTLCrashReporter::kDataFolderName = "com.zelv.tlcrashreporter";

namespace {

constexpr const char* kReportFileName = "live_report.tlcrash";
constexpr const char* kQueuedFolderName = "queued_reports";
// A live report's working file, in the reporter's folder; a crash may leave one behind.
constexpr const char* kLiveReportPrefix = "live_crash_report.";
constexpr unsigned kImageRefreshMs = 1000;

std::atomic<void (*)(const std::string&)> logSink{nullptr};

void logLine(const std::string& line) {
    if (auto sink = logSink.load())
        sink(line);
    else
        std::cerr << line << '\n';
}

// What a crash reads, prepared by enabling; it lives until the process ends.
tlcrash_crash_context crashContext;

std::mutex enableMutex;
bool reporterEnabled = false;

// Live reports queue here; against a crash the writer's own owner decides (a live report backs off).
std::mutex liveReportMutex;

tlcrash_async_image_list* makeSharedImageList() {
    auto* images = new tlcrash_async_image_list;
    tlcrash_async_image_list_init(images, getpid());
    return images;
}

std::string bundleString(const platform::Value::Dict& info, const char* key) {
    auto it = info.find(key);
    if (it == info.end() || it->second.string() == nullptr)
        return {};
    return *it->second.string();
}

std::string processName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// The terminate handler in place before enabling: the runtime's own (its message, then abort)
// or the program's.
std::terminate_handler previousTerminate = nullptr;

// The uncaught-exception hook: the throw's frames are still on the stack here. It allocates as
// little as it can, since running out of memory is what brings most programs here.
[[noreturn]] void uncaughtExceptionHook() {
    const std::type_info* type = abi::__cxa_current_exception_type();
    const char* name = nullptr;
    const char* reason = nullptr;
    if (type != nullptr) {
        const char* mangled = type->name()[0] == '*' ? type->name() + 1 : type->name();
        int status = 0;
        // Never freed: the process ends here.
        name = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
        if (status != 0 || name == nullptr)
            name = mangled;
        try {
            throw;
        } catch (const std::exception& e) {
            reason = e.what();
        } catch (...) {
        }
        void* frames[512];
        const int count = backtrace(frames, 512);
        uint64_t addresses[512];
        for (int i = 0; i < count; ++i)
            addresses[i] = reinterpret_cast<uint64_t>(frames[i]);
        Tallytlcrash_log_writer_set_exception(&crashContext.writer, name, reason ? reason : "", addresses,
                                              static_cast<size_t>(count > 0 ? count : 0));
    }
    if (previousTerminate != nullptr && previousTerminate != __gnu_cxx::__verbose_terminate_handler) {
        previousTerminate();
        abort();
    }
    // The runtime's words, printed once the report is written.
    auto& note = crashContext.stderr_note;
    if (type == nullptr) {
        note[0] = "terminate called without an active exception\n";
    } else {
        note[0] = "terminate called after throwing an instance of '";
        note[1] = name;
        note[2] = reason ? "'\n  what():  " : "'\n";
        note[3] = reason;
        note[4] = reason ? "\n" : nullptr;
    }
    abort();
}

bool createFolder(const std::filesystem::path& folder, platform::Error* error) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            if (error)
                *error = TallyTLCrashReporterPosixError(ec.value());
            return false;
        }
        chmod(folder.c_str(), 0755);
    }
    return true;
}

void removeLeftoverLiveReports(const std::filesystem::path& folder) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::error_code ignored;
        if (entry.path().filename().string().rfind(kLiveReportPrefix, 0) == 0 && entry.is_regular_file(ignored))
            std::filesystem::remove(entry.path(), ignored);
    }
}

struct LiveWrite {
    Tallytlcrash_log_writer* writer;
    report_file* file;
    tlcrash_log_signal_info* signal;
};

tlcrash_error_t writeLiveWithState(tlcrash_async_thread_state* state, void* context) {
    auto* live = static_cast<LiveWrite*>(context);
    return Tallytlcrash_log_writer_write(live->writer, tlcrash_async_thread_self(), TallyTLCrashReporter::sharedImageList(),
                                         live->file, live->signal, state);
}

}  // namespace

std::shared_ptr<TallyTLCrashReporterConfig> TallyTLCrashReporterConfig::defaultConfiguration() {
    return std::make_shared<TallyTLCrashReporterConfig>();
}

uint32_t TallyTLCrashReporterConfig::mapToAsyncSymbolicationStrategy(uint64_t strategy) {
    return strategy == 0 ? 0 : static_cast<uint32_t>(strategy & 3);
}

void TallyTLCrashReporter::setLogSink(void (*sink)(const std::string&)) { logSink.store(sink); }

tlcrash_async_image_list* TallyTLCrashReporter::sharedImageList() {
    static tlcrash_async_image_list* images = makeSharedImageList();
    return images;
}

std::shared_ptr<TallyTLCrashReporter> TallyTLCrashReporter::sharedReporter() {
    static auto* shared = new std::shared_ptr<TallyTLCrashReporter>(init());  // outlives the other statics
    return *shared;
}

std::shared_ptr<TallyTLCrashReporter> TallyTLCrashReporter::init() {
    return initWithConfiguration(TallyTLCrashReporterConfig::defaultConfiguration());
}

std::shared_ptr<TallyTLCrashReporter> TallyTLCrashReporter::initWithConfiguration(
    std::shared_ptr<TallyTLCrashReporterConfig> config) {
    return initWithBundle(platform::DeviceFacts::bundleInfo(), std::move(config));
}

std::shared_ptr<TallyTLCrashReporter> TallyTLCrashReporter::initWithBundle(
    const platform::Value::Dict& bundleInfo, std::shared_ptr<TallyTLCrashReporterConfig> config) {
    std::string identifier = bundleString(bundleInfo, "CFBundleIdentifier");
    if (identifier.empty()) {
        identifier = processName();
        if (identifier.empty())
            throw TLCrashReporterException("Can not determine process identifier or process name");
        logLine("[TLCrashReporter] Warning -- bundle identifier, using process name " + identifier);
    }
    std::string version = bundleString(bundleInfo, "CFBundleVersion");
    if (version.empty() && bundleInfo.find("CFBundleVersion") == bundleInfo.end())
        logLine("[TLCrashReporter] Warning -- bundle version unavailable");
    std::optional<std::string> marketing;
    if (auto it = bundleInfo.find("CFBundleShortVersionString"); it != bundleInfo.end() && it->second.string())
        marketing = *it->second.string();
    return initWithApplicationIdentifier(std::move(identifier), std::move(version), std::move(marketing),
                                         std::move(config));
}

std::shared_ptr<TallyTLCrashReporter> TallyTLCrashReporter::initWithApplicationIdentifier(
    std::string identifier, std::string version, std::optional<std::string> marketingVersion,
    std::shared_ptr<TallyTLCrashReporterConfig> config) {
    std::shared_ptr<TallyTLCrashReporter> reporter(new TallyTLCrashReporter());
    reporter->config_ = config ? std::move(config) : TallyTLCrashReporterConfig::defaultConfiguration();
    std::string folder = identifier;
    for (char& c : folder)
        if (c == '/')
            c = '_';
    reporter->applicationIdentifier_ = std::move(identifier);
    reporter->applicationVersion_ = std::move(version);
    reporter->applicationMarketingVersion_ = std::move(marketingVersion);
    reporter->crashReportDirectory_ = (platform::Directories::caches() / kDataFolderName / folder).string();
    return reporter;
}

std::string TallyTLCrashReporter::queuedCrashReportDirectory() const {
    return (std::filesystem::path(crashReportDirectory_) / kQueuedFolderName).string();
}

std::string TallyTLCrashReporter::crashReportPath() const {
    return (std::filesystem::path(crashReportDirectory_) / kReportFileName).string();
}

bool TallyTLCrashReporter::enableCrashReporter() { return enableCrashReporterAndReturnError(nullptr); }

bool TallyTLCrashReporter::enableCrashReporterAndReturnError(platform::Error* error) {
    {
        // One attempt per process, even when a later step fails.
        std::lock_guard<std::mutex> lock(enableMutex);
        if (reporterEnabled) {
            TallyTLCrashReporterSetError(error, TallyTLCrashReporterErrorResourceBusy,
                                         "A TLCrashReporter instance has already been enabled");
            return false;
        }
        reporterEnabled = true;
    }
    if (enabled_)
        throw TLCrashReporterException("The crash reporter has alread been enabled");
    // Everything that can fail comes before anything is installed: a failed enabling leaves
    // the process as it was.
    if (config_->signalHandlerType() == TallyTLCrashReporterConfig::SignalHandlerTypeMach) {
        // Linux delivers faults only as signals: there is no exception server to start.
        TallyTLCrashReporterSetPosixError(error, TallyTLCrashReporterErrorOperatingSystem,
                                          "Failed to instantiate the Mach exception server.", ENOTSUP);
        return false;
    }
    if (!createFolder(crashReportDirectory_, error) || !createFolder(queuedCrashReportDirectory(), error))
        return false;
    removeLeftoverLiveReports(crashReportDirectory_);
    const auto& marketing = applicationMarketingVersion_;
    if (Tallytlcrash_log_writer_init(&crashContext.writer, applicationIdentifier_.c_str(), applicationVersion_.c_str(),
                                     marketing ? marketing->c_str() : nullptr,
                                     TallyTLCrashReporterConfig::mapToAsyncSymbolicationStrategy(
                                         config_->symbolicationStrategy()),
                                     false) != TLCRASH_ESUCCESS) {
        TallyTLCrashReporterSetError(error, TallyTLCrashReporterErrorUnknown, "Could not prepare the crash log writer");
        return false;
    }
    // The signal handlers run on it: without one, nothing is installed.
    if (config_->signalHandlerType() == TallyTLCrashReporterConfig::SignalHandlerTypeBSD &&
        !platform::AlternateSignalStack::installForThisThread()) {
        TallyTLCrashReporterSetPosixError(error, TallyTLCrashReporterErrorOperatingSystem,
                                          "Could not initialize alternative signal stack", errno);
        return false;
    }

    tlcrash_crash_context_set_path(&crashContext, crashReportPath().c_str());
    tlcrash_async_mobject_reserve();
    // Its first call loads the unwinder, which the hook must not need to do with memory gone.
    void* warm[1];
    backtrace(warm, 1);
    // The process's objects now, and those loaded later within a second of their loading.
    if (!tlcrash_elf_images_watch(sharedImageList(), kImageRefreshMs)) {
        TallyTLCrashReporterSetPosixError(error, TallyTLCrashReporterErrorOperatingSystem,
                                          "Could not start the thread that lists loaded images", errno);
        return false;
    }
    crashContext.image_list = sharedImageList();

    if (config_->signalHandlerType() == TallyTLCrashReporterConfig::SignalHandlerTypeBSD) {
        auto* handler = TallyTLCrashSignalHandler::sharedHandler();
        for (int signo : TLCRASH_FATAL_SIGNALS) {
            TallyTLCrashSignalHandlerError failure;
            if (!handler->registerHandlerForSignal(signo, tlcrash_crash_signal_callback, &crashContext, &failure)) {
                TallyTLCrashReporterSetPosixError(error, TallyTLCrashReporterErrorOperatingSystem, failure.description,
                                                  failure.posixError);
                return false;
            }
        }
    }
    previousTerminate = std::set_terminate(uncaughtExceptionHook);
    enabled_ = true;
    return true;
}

void TallyTLCrashReporter::setCrashCallbacks(const TallyTLCrashReporterCallbacks* callbacks) {
    if (enabled_)
        throw TLCrashReporterException("The crash reporter has alread been enabled");
    if (callbacks == nullptr || callbacks->version != 0)
        return;
    crashContext.user_context = callbacks->context;
    crashContext.user_callback = callbacks->handleSignal;
}

bool TallyTLCrashReporter::hasPendingCrashReport() const {
    std::error_code ec;
    return std::filesystem::exists(crashReportPath(), ec);
}

std::optional<platform::Data> TallyTLCrashReporter::loadPendingCrashReportData() const {
    return loadPendingCrashReportDataAndReturnError(nullptr);
}

std::optional<platform::Data> TallyTLCrashReporter::loadPendingCrashReportDataAndReturnError(
    platform::Error* error) const {
    const int fd = open(crashReportPath().c_str(), O_RDONLY | O_CLOEXEC);
    auto fail = [&](int code) -> std::optional<platform::Data> {
        if (error)
            *error = TallyTLCrashReporterPosixError(code);
        return std::nullopt;
    };
    if (fd < 0)
        return fail(errno);
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int code = errno ? errno : EISDIR;
        close(fd);
        return fail(code);
    }
    if (static_cast<uint64_t>(info.st_size) > kMaxPendingReportSize) {
        close(fd);
        return fail(EFBIG);
    }
    platform::Data data;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int code = errno;
            close(fd);
            return fail(code);
        }
        if (got == 0)
            break;
        data.insert(data.end(), buffer, buffer + got);
        if (data.size() > kMaxPendingReportSize) {
            close(fd);
            return fail(EFBIG);
        }
    }
    close(fd);
    return data;
}

bool TallyTLCrashReporter::purgePendingCrashReport() const { return purgePendingCrashReportAndReturnError(nullptr); }

bool TallyTLCrashReporter::purgePendingCrashReportAndReturnError(platform::Error* error) const {
    if (unlink(crashReportPath().c_str()) != 0) {
        if (error)
            *error = TallyTLCrashReporterPosixError(errno);
        return false;
    }
    return true;
}

// Each entry point passes its own return address: the report points into its caller.
__attribute__((noinline)) std::optional<platform::Data> TallyTLCrashReporter::generateLiveReport() {
    return liveReport(tlcrash_async_thread_self(), reinterpret_cast<uint64_t>(__builtin_return_address(0)), nullptr);
}

__attribute__((noinline)) std::optional<platform::Data> TallyTLCrashReporter::generateLiveReportAndReturnError(
    platform::Error* error) {
    return liveReport(tlcrash_async_thread_self(), reinterpret_cast<uint64_t>(__builtin_return_address(0)), error);
}

__attribute__((noinline)) std::optional<platform::Data> TallyTLCrashReporter::generateLiveReportWithThread(
    tlcrash_thread_t thread) {
    return liveReport(thread, reinterpret_cast<uint64_t>(__builtin_return_address(0)), nullptr);
}

__attribute__((noinline)) std::optional<platform::Data> TallyTLCrashReporter::generateLiveReportWithThread(
    tlcrash_thread_t thread, platform::Error* error) {
    return liveReport(thread, reinterpret_cast<uint64_t>(__builtin_return_address(0)), error);
}

std::optional<platform::Data> TallyTLCrashReporter::liveReport(tlcrash_thread_t thread, uint64_t caller,
                                                               platform::Error* error) {
    std::lock_guard<std::mutex> lock(liveReportMutex);
    tlcrash_elf_images_refresh(sharedImageList());
    std::string path = (std::filesystem::path(crashReportDirectory_) / kLiveReportPrefix).string() + "XXXXXX";
    const int fd = createFolder(crashReportDirectory_, nullptr) ? mkostemp(path.data(), O_CLOEXEC) : -1;
    if (fd < 0) {
        TallyTLCrashReporterSetPosixError(error, TallyTLCrashReporterErrorOperatingSystem,
                                          "Failed to create temporary path", errno);
        return std::nullopt;
    }
    Tallytlcrash_log_writer writer;
    const auto& marketing = applicationMarketingVersion_;
    tlcrash_error_t err = Tallytlcrash_log_writer_init(
        &writer, applicationIdentifier_.c_str(), applicationVersion_.c_str(), marketing ? marketing->c_str() : nullptr,
        TallyTLCrashReporterConfig::mapToAsyncSymbolicationStrategy(config_->symbolicationStrategy()), true);
    report_file file;
    report_file_init(&file, fd, TLCRASH_REPORT_LIMIT);
    tlcrash_log_signal_info signal{tlcrash_signal_report_number(SIGTRAP),
                                   tlcrash_signal_report_code(SIGTRAP, TRAP_TRACE), caller, nullptr};
    if (err == TLCRASH_ESUCCESS) {
        if (thread == tlcrash_async_thread_self()) {
            LiveWrite live{&writer, &file, &signal};
            err = tlcrash_async_thread_state_current(writeLiveWithState, &live);
        } else {
            err = Tallytlcrash_log_writer_write(&writer, thread, sharedImageList(), &file, &signal, nullptr);
        }
    }
    Tallytlcrash_log_writer_close(&writer);
    if (!report_file_close(&file) && err == TLCRASH_ESUCCESS)
        err = TLCRASH_OUTPUT_ERR;

    std::optional<platform::Data> result;
    if (err == TLCRASH_ENOTFOUND) {
        TallyTLCrashReporterSetPosixError(error, TallyTLCrashReporterErrorOperatingSystem,
                                          "No thread " + std::to_string(thread) + " in this process", ESRCH);
    } else if (err != TLCRASH_ESUCCESS) {
        logLine(std::string("Write failed with error ") + crash_writer_error_text(err));
        TallyTLCrashReporterSetError(error, TallyTLCrashReporterErrorUnknown, "Failed to write the crash report to disk");
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            TallyTLCrashReporterSetError(error, TallyTLCrashReporterErrorUnknown,
                                         "Unable to open live crash report for reading");
        } else {
            result = platform::Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    Tallytlcrash_log_writer_free(&writer);
    if (unlink(path.c_str()) != 0)
        logLine(std::string("Failure occured deleting live crash report: ") + std::strerror(errno));
    return result;
}
