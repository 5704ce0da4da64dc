#pragma once
// A decoded crash report and its sections (TallyTLCrashReport*Info), immutable once made.
// Strings are valid UTF-8: invalid sequences in a report become U+FFFD.
#include "platform/base/Value.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TallyTLCrashReportSystemInfo {
public:
    TallyTLCrashReportSystemInfo(int32_t operatingSystem, std::string operatingSystemVersion,
                                 std::optional<std::string> operatingSystemBuild, int32_t architecture,
                                 std::optional<platform::Date> timestamp)
        : operatingSystem_(operatingSystem), osVersion_(std::move(operatingSystemVersion)),
          osBuild_(std::move(operatingSystemBuild)), architecture_(architecture), timestamp_(timestamp) {}
    int32_t operatingSystem() const { return operatingSystem_; }
    const std::string& operatingSystemVersion() const { return osVersion_; }
    const std::optional<std::string>& operatingSystemBuild() const { return osBuild_; }
    int32_t architecture() const { return architecture_; }
    const std::optional<platform::Date>& timestamp() const { return timestamp_; }

private:
    int32_t operatingSystem_;
    std::string osVersion_;
    std::optional<std::string> osBuild_;
    int32_t architecture_;
    std::optional<platform::Date> timestamp_;
};

class TallyTLCrashReportProcessorInfo {
public:
    TallyTLCrashReportProcessorInfo(int32_t typeEncoding, uint64_t type, uint64_t subtype)
        : typeEncoding_(typeEncoding), type_(type), subtype_(subtype) {}
    int32_t typeEncoding() const { return typeEncoding_; }
    uint64_t type() const { return type_; }
    uint64_t subtype() const { return subtype_; }

private:
    int32_t typeEncoding_;
    uint64_t type_;
    uint64_t subtype_;
};

class TallyTLCrashReportMachineInfo {
public:
    TallyTLCrashReportMachineInfo(std::optional<std::string> modelName,
                                  std::shared_ptr<TallyTLCrashReportProcessorInfo> processorInfo,
                                  uint64_t processorCount, uint64_t logicalProcessorCount)
        : modelName_(std::move(modelName)), processorInfo_(std::move(processorInfo)), processorCount_(processorCount),
          logicalProcessorCount_(logicalProcessorCount) {}
    const std::optional<std::string>& modelName() const { return modelName_; }
    const std::shared_ptr<TallyTLCrashReportProcessorInfo>& processorInfo() const { return processorInfo_; }
    uint64_t processorCount() const { return processorCount_; }
    uint64_t logicalProcessorCount() const { return logicalProcessorCount_; }

private:
    std::optional<std::string> modelName_;
    std::shared_ptr<TallyTLCrashReportProcessorInfo> processorInfo_;
    uint64_t processorCount_;
    uint64_t logicalProcessorCount_;
};

class TallyTLCrashReportApplicationInfo {
public:
    TallyTLCrashReportApplicationInfo(std::string identifier, std::string version,
                                      std::optional<std::string> marketingVersion)
        : identifier_(std::move(identifier)), version_(std::move(version)),
          marketingVersion_(std::move(marketingVersion)) {}
    const std::string& applicationIdentifier() const { return identifier_; }
    const std::string& applicationVersion() const { return version_; }
    const std::optional<std::string>& applicationMarketingVersion() const { return marketingVersion_; }

private:
    std::string identifier_;
    std::string version_;
    std::optional<std::string> marketingVersion_;
};

class TallyTLCrashReportProcessInfo {
public:
    TallyTLCrashReportProcessInfo(std::optional<std::string> processName, uint64_t processID,
                                  std::optional<std::string> processPath, std::optional<platform::Date> processStartTime,
                                  std::optional<std::string> parentProcessName, uint64_t parentProcessID, bool native)
        : processName_(std::move(processName)), processID_(processID), processPath_(std::move(processPath)),
          processStartTime_(processStartTime), parentProcessName_(std::move(parentProcessName)),
          parentProcessID_(parentProcessID), native_(native) {}
    const std::optional<std::string>& processName() const { return processName_; }
    uint64_t processID() const { return processID_; }
    const std::optional<std::string>& processPath() const { return processPath_; }
    const std::optional<platform::Date>& processStartTime() const { return processStartTime_; }
    const std::optional<std::string>& parentProcessName() const { return parentProcessName_; }
    uint64_t parentProcessID() const { return parentProcessID_; }
    bool native() const { return native_; }

private:
    std::optional<std::string> processName_;
    uint64_t processID_;
    std::optional<std::string> processPath_;
    std::optional<platform::Date> processStartTime_;
    std::optional<std::string> parentProcessName_;
    uint64_t parentProcessID_;
    bool native_;
};

class TallyTLCrashReportSignalInfo {
public:
    TallyTLCrashReportSignalInfo(std::string name, std::string code, uint64_t address)
        : name_(std::move(name)), code_(std::move(code)), address_(address) {}
    const std::string& name() const { return name_; }
    const std::string& code() const { return code_; }
    uint64_t address() const { return address_; }

private:
    std::string name_;
    std::string code_;
    uint64_t address_;
};

class TallyTLCrashReportMachExceptionInfo {
public:
    TallyTLCrashReportMachExceptionInfo(uint64_t type, std::vector<uint64_t> codes)
        : type_(type), codes_(std::move(codes)) {}
    uint64_t type() const { return type_; }
    const std::vector<uint64_t>& codes() const { return codes_; }

private:
    uint64_t type_;
    std::vector<uint64_t> codes_;
};

class TallyTLCrashReportSymbolInfo {
public:
    TallyTLCrashReportSymbolInfo(std::string symbolName, uint64_t startAddress, uint64_t endAddress)
        : symbolName_(std::move(symbolName)), startAddress_(startAddress), endAddress_(endAddress) {}
    const std::string& symbolName() const { return symbolName_; }
    uint64_t startAddress() const { return startAddress_; }
    uint64_t endAddress() const { return endAddress_; }

private:
    std::string symbolName_;
    uint64_t startAddress_;
    uint64_t endAddress_;
};

class TallyTLCrashReportStackFrameInfo {
public:
    TallyTLCrashReportStackFrameInfo(uint64_t instructionPointer, std::shared_ptr<TallyTLCrashReportSymbolInfo> symbol)
        : instructionPointer_(instructionPointer), symbolInfo_(std::move(symbol)) {}
    uint64_t instructionPointer() const { return instructionPointer_; }
    const std::shared_ptr<TallyTLCrashReportSymbolInfo>& symbolInfo() const { return symbolInfo_; }

private:
    uint64_t instructionPointer_;
    std::shared_ptr<TallyTLCrashReportSymbolInfo> symbolInfo_;
};

class TallyTLCrashReportRegisterInfo {
public:
    TallyTLCrashReportRegisterInfo(std::string registerName, uint64_t registerValue)
        : registerName_(std::move(registerName)), registerValue_(registerValue) {}
    const std::string& registerName() const { return registerName_; }
    uint64_t registerValue() const { return registerValue_; }

private:
    std::string registerName_;
    uint64_t registerValue_;
};

using TallyTLCrashReportStackFrames = std::vector<std::shared_ptr<TallyTLCrashReportStackFrameInfo>>;

class TallyTLCrashReportThreadInfo {
public:
    TallyTLCrashReportThreadInfo(int64_t threadNumber, TallyTLCrashReportStackFrames stackFrames, bool crashed,
                                 std::vector<std::shared_ptr<TallyTLCrashReportRegisterInfo>> registers)
        : threadNumber_(threadNumber), stackFrames_(std::move(stackFrames)), crashed_(crashed),
          registers_(std::move(registers)) {}
    int64_t threadNumber() const { return threadNumber_; }
    const TallyTLCrashReportStackFrames& stackFrames() const { return stackFrames_; }
    bool crashed() const { return crashed_; }
    const std::vector<std::shared_ptr<TallyTLCrashReportRegisterInfo>>& registers() const { return registers_; }

private:
    int64_t threadNumber_;
    TallyTLCrashReportStackFrames stackFrames_;
    bool crashed_;
    std::vector<std::shared_ptr<TallyTLCrashReportRegisterInfo>> registers_;
};

class TallyTLCrashReportBinaryImageInfo {
public:
    // uuid: the image's UUID bytes as lower-case hex, when the image has one.
    TallyTLCrashReportBinaryImageInfo(std::shared_ptr<TallyTLCrashReportProcessorInfo> codeType, uint64_t baseAddress,
                                      uint64_t size, std::string name, std::optional<std::string> uuid)
        : codeType_(std::move(codeType)), baseAddress_(baseAddress), size_(size), name_(std::move(name)),
          uuid_(std::move(uuid)) {}
    const std::shared_ptr<TallyTLCrashReportProcessorInfo>& codeType() const { return codeType_; }
    uint64_t imageBaseAddress() const { return baseAddress_; }
    uint64_t imageSize() const { return size_; }
    const std::string& imageName() const { return name_; }
    bool hasImageUUID() const { return uuid_.has_value(); }
    const std::optional<std::string>& imageUUID() const { return uuid_; }

private:
    std::shared_ptr<TallyTLCrashReportProcessorInfo> codeType_;
    uint64_t baseAddress_;
    uint64_t size_;
    std::string name_;
    std::optional<std::string> uuid_;
};

class TallyTLCrashReportExceptionInfo {
public:
    TallyTLCrashReportExceptionInfo(std::string name, std::string reason,
                                    std::optional<TallyTLCrashReportStackFrames> stackFrames = std::nullopt)
        : name_(std::move(name)), reason_(std::move(reason)), stackFrames_(std::move(stackFrames)) {}
    const std::string& exceptionName() const { return name_; }
    const std::string& exceptionReason() const { return reason_; }
    // Nothing when the exception was recorded without return addresses.
    const std::optional<TallyTLCrashReportStackFrames>& stackFrames() const { return stackFrames_; }

private:
    std::string name_;
    std::string reason_;
    std::optional<TallyTLCrashReportStackFrames> stackFrames_;
};

class TallyTLCrashReport {
public:
    // The report in a file's bytes; nothing (and error code 2 with the reason) when they are
    // not a whole, valid report.
    static std::shared_ptr<TallyTLCrashReport> initWithData(const std::vector<uint8_t>& data, platform::Error* error);

    const std::shared_ptr<TallyTLCrashReportSystemInfo>& systemInfo() const { return systemInfo_; }
    const std::shared_ptr<TallyTLCrashReportMachineInfo>& machineInfo() const { return machineInfo_; }
    const std::shared_ptr<TallyTLCrashReportApplicationInfo>& applicationInfo() const { return applicationInfo_; }
    const std::shared_ptr<TallyTLCrashReportProcessInfo>& processInfo() const { return processInfo_; }
    const std::shared_ptr<TallyTLCrashReportSignalInfo>& signalInfo() const { return signalInfo_; }
    const std::shared_ptr<TallyTLCrashReportMachExceptionInfo>& machExceptionInfo() const { return machExceptionInfo_; }
    const std::vector<std::shared_ptr<TallyTLCrashReportThreadInfo>>& threads() const { return threads_; }
    const std::vector<std::shared_ptr<TallyTLCrashReportBinaryImageInfo>>& images() const { return images_; }
    const std::shared_ptr<TallyTLCrashReportExceptionInfo>& exceptionInfo() const { return exceptionInfo_; }
    const std::optional<std::array<uint8_t, 16>>& uuidRef() const { return uuid_; }
    bool hasMachineInfo() const { return machineInfo_ != nullptr; }
    bool hasProcessInfo() const { return processInfo_ != nullptr; }
    bool hasExceptionInfo() const { return exceptionInfo_ != nullptr; }

    // The first image, in report order, whose range holds the address.
    std::shared_ptr<TallyTLCrashReportBinaryImageInfo> imageForAddress(uint64_t address) const;

private:
    TallyTLCrashReport() = default;
    friend struct TallyTLCrashReportDecoder;

    std::shared_ptr<TallyTLCrashReportSystemInfo> systemInfo_;
    std::shared_ptr<TallyTLCrashReportMachineInfo> machineInfo_;
    std::shared_ptr<TallyTLCrashReportApplicationInfo> applicationInfo_;
    std::shared_ptr<TallyTLCrashReportProcessInfo> processInfo_;
    std::shared_ptr<TallyTLCrashReportSignalInfo> signalInfo_;
    std::shared_ptr<TallyTLCrashReportMachExceptionInfo> machExceptionInfo_;
    std::vector<std::shared_ptr<TallyTLCrashReportThreadInfo>> threads_;
    std::vector<std::shared_ptr<TallyTLCrashReportBinaryImageInfo>> images_;
    std::shared_ptr<TallyTLCrashReportExceptionInfo> exceptionInfo_;
    std::optional<std::array<uint8_t, 16>> uuid_;
};
