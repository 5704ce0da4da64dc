#pragma once
// Hand-made report files for the decoder and formatter tests: protobuf-c messages packed after
// the file header. The builder owns everything the message points at.
#include "analytics/crash/tlcrash.pb-c.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace crash_test {

class ReportBuilder {
public:
    ReportBuilder();
    Tlcrash__CrashReport report = TLCRASH__CRASH_REPORT__INIT;

    Tlcrash__CrashReport__Thread* addThread(uint32_t number, bool crashed);
    Tlcrash__CrashReport__Thread__StackFrame* addFrame(Tlcrash__CrashReport__Thread* thread, uint64_t pc,
                                                       const char* symbol = nullptr, uint64_t start = 0);
    void addRegister(Tlcrash__CrashReport__Thread* thread, const char* name, uint64_t value);
    Tlcrash__CrashReport__BinaryImage* addImage(uint64_t base, uint64_t size, const char* name, uint64_t cpuType = 0,
                                                uint64_t cpuSubtype = 0, bool withCodeType = true,
                                                const std::vector<uint8_t>& uuid = {});
    void setException(const char* name, const char* reason, const std::vector<uint64_t>& pcs);
    void setMachCodes(uint64_t type, size_t count);
    void setReportUuid(const std::vector<uint8_t>& uuid);
    void dropProcessInfo() { report.process_info = nullptr; }
    void dropMachineInfo() { report.machine_info = nullptr; }

    // "tlcrash", version, the packed message.
    std::vector<uint8_t> bytes() const;

    Tlcrash__CrashReport__SystemInfo system = TLCRASH__CRASH_REPORT__SYSTEM_INFO__INIT;
    Tlcrash__CrashReport__MachineInfo machine = TLCRASH__CRASH_REPORT__MACHINE_INFO__INIT;
    Tlcrash__CrashReport__Processor processor = TLCRASH__CRASH_REPORT__PROCESSOR__INIT;
    Tlcrash__CrashReport__ApplicationInfo application = TLCRASH__CRASH_REPORT__APPLICATION_INFO__INIT;
    Tlcrash__CrashReport__ProcessInfo process = TLCRASH__CRASH_REPORT__PROCESS_INFO__INIT;
    Tlcrash__CrashReport__Signal signal = TLCRASH__CRASH_REPORT__SIGNAL__INIT;
    Tlcrash__CrashReport__ReportInfo info = TLCRASH__CRASH_REPORT__REPORT_INFO__INIT;

private:
    template <typename T>
    T* keep(T value) {
        storage_.push_back(std::string(reinterpret_cast<const char*>(&value), sizeof value));
        return reinterpret_cast<T*>(storage_.back().data());
    }
    template <typename T>
    void push(T**& list, size_t& count, T* item);

    std::deque<std::string> storage_;
    std::deque<std::vector<void*>> lists_;
    std::deque<std::vector<uint64_t>> numbers_;
    std::deque<std::vector<uint8_t>> bytes_;
    Tlcrash__CrashReport__Exception exception_ = TLCRASH__CRASH_REPORT__EXCEPTION__INIT;
    Tlcrash__CrashReport__Signal__MachException mach_ = TLCRASH__CRASH_REPORT__SIGNAL__MACH_EXCEPTION__INIT;
};

}  // namespace crash_test
