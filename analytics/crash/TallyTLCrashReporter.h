#pragma once
// The crash reporter's control object: enabled once per process, it prepares everything a
// crash needs, and at the next launch hands over the report the crash left behind.
#include "analytics/crash/AsyncImageList.h"
#include "analytics/crash/TallyTLCrashReporterError.h"

#include <csignal>
#include <memory>
#include <optional>
#include <string>

class TallyTLCrashReporterConfig {
public:
    enum : uint64_t { SignalHandlerTypeBSD = 0, SignalHandlerTypeMach = 1 };
    enum : uint64_t { SymbolicationStrategyNone = 0, SymbolicationStrategySymbolTable = 1, SymbolicationStrategyObjC = 2 };

    static std::shared_ptr<TallyTLCrashReporterConfig> defaultConfiguration();
    TallyTLCrashReporterConfig() = default;
    TallyTLCrashReporterConfig(uint64_t signalHandlerType, uint64_t symbolicationStrategy)
        : signalHandlerType_(signalHandlerType), symbolicationStrategy_(symbolicationStrategy) {}

    uint64_t signalHandlerType() const { return signalHandlerType_; }
    uint64_t symbolicationStrategy() const { return symbolicationStrategy_; }
    // The writer's value: 0 stays 0, anything else keeps its two low bits.
    static uint32_t mapToAsyncSymbolicationStrategy(uint64_t strategy);

private:
    uint64_t signalHandlerType_ = SignalHandlerTypeBSD;
    uint64_t symbolicationStrategy_ = SymbolicationStrategyNone;
};

// Called after a crash report was written, from inside the crashing process.
struct TallyTLCrashReporterCallbacks {
    uint32_t version;  // 0
    void* context;
    void (*handleSignal)(siginfo_t* info, ucontext_t* uap, void* context);
};

class TallyTLCrashReporter {
public:
    static std::shared_ptr<TallyTLCrashReporter> sharedReporter();
    static std::shared_ptr<TallyTLCrashReporter> init();
    static std::shared_ptr<TallyTLCrashReporter> initWithConfiguration(std::shared_ptr<TallyTLCrashReporterConfig> config);
    // Identifier and versions from the bundle keys ("CFBundleIdentifier", "CFBundleVersion",
    // "CFBundleShortVersionString"); the process name when there is no identifier. Throws
    // TLCrashReporterException when neither is known.
    static std::shared_ptr<TallyTLCrashReporter> initWithBundle(const platform::Value::Dict& bundleInfo,
                                                                std::shared_ptr<TallyTLCrashReporterConfig> config);
    static std::shared_ptr<TallyTLCrashReporter> initWithApplicationIdentifier(
        std::string identifier, std::string version, std::optional<std::string> marketingVersion,
        std::shared_ptr<TallyTLCrashReporterConfig> config);

    bool enableCrashReporter();
    bool enableCrashReporterAndReturnError(platform::Error* error);
    void setCrashCallbacks(const TallyTLCrashReporterCallbacks* callbacks);

    bool hasPendingCrashReport() const;
    std::optional<platform::Data> loadPendingCrashReportData() const;
    std::optional<platform::Data> loadPendingCrashReportDataAndReturnError(platform::Error* error) const;
    bool purgePendingCrashReport() const;
    bool purgePendingCrashReportAndReturnError(platform::Error* error) const;

    std::optional<platform::Data> generateLiveReport();
    std::optional<platform::Data> generateLiveReportAndReturnError(platform::Error* error);
    // Fails (operating-system error, no such process) for an id that is no thread of this process.
    std::optional<platform::Data> generateLiveReportWithThread(tlcrash_thread_t thread);
    std::optional<platform::Data> generateLiveReportWithThread(tlcrash_thread_t thread, platform::Error* error);

    const std::string& crashReportDirectory() const { return crashReportDirectory_; }
    std::string queuedCrashReportDirectory() const;
    std::string crashReportPath() const;

    const std::string& applicationIdentifier() const { return applicationIdentifier_; }
    const std::string& applicationVersion() const { return applicationVersion_; }
    const std::optional<std::string>& applicationMarketingVersion() const { return applicationMarketingVersion_; }

    // The images of this process that reports list: its ELF objects (listed from enabling on)
    // and any Mach-O images announced to it.
    static tlcrash_async_image_list* sharedImageList();
    // Where the reporter's warnings go (stderr unless set).
    static void setLogSink(void (*sink)(const std::string& line));

    // The folder of ours below the caches folder.
    static const char* const kDataFolderName;
    // Stored reports never pass the writer's limit; a bigger file is not a report of ours.
    static constexpr uint64_t kMaxPendingReportSize = 1 << 20;

private:
    TallyTLCrashReporter() = default;
    // caller: the address the report gives as the signal's address.
    std::optional<platform::Data> liveReport(tlcrash_thread_t thread, uint64_t caller, platform::Error* error);

    std::shared_ptr<TallyTLCrashReporterConfig> config_;
    bool enabled_ = false;
    std::string applicationIdentifier_;
    std::string applicationVersion_;
    std::optional<std::string> applicationMarketingVersion_;
    std::string crashReportDirectory_;
};
