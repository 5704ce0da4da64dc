#include "analytics/crash/tests/ReportBuilder.h"

namespace crash_test {

ReportBuilder::ReportBuilder() {
    system.has_operating_system = 1;
    system.operating_system = TLCRASH__CRASH_REPORT__OPERATING_SYSTEM__IPHONE_OS;
    system.os_version = const_cast<char*>("9.3.5");
    system.os_build = const_cast<char*>("13G36");
    system.architecture = TLCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
    system.timestamp = 1700000000;
    processor.has_encoding = 1;
    processor.encoding = TLCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
    processor.type = 0x100000C;
    processor.subtype = 0;
    machine.model = const_cast<char*>("iPhone7,2");
    machine.processor = &processor;
    machine.processor_count = 2;
    machine.logical_processor_count = 2;
    application.identifier = const_cast<char*>("com.example.zelv");
    application.version = const_cast<char*>("7");
    application.marketing_version = const_cast<char*>("1.2");
    process.process_name = const_cast<char*>("zelv");
    process.process_id = 42;
    process.process_path = const_cast<char*>("/app/zelv");
    process.parent_process_name = const_cast<char*>("launchd");
    process.parent_process_id = 1;
    process.native = 1;
    process.has_start_time = 1;
    process.start_time = 1699999000;
    signal.name = const_cast<char*>("SIGSEGV");
    signal.code = const_cast<char*>("SEGV_MAPERR");
    signal.address = 0x10;
    info.user_requested = 0;
    report.system_info = &system;
    report.machine_info = &machine;
    report.application_info = &application;
    report.process_info = &process;
    report.signal = &signal;
    report.report_info = &info;
}

template <typename T>
void ReportBuilder::push(T**& list, size_t& count, T* item) {
    std::vector<void*>* storage = nullptr;
    for (auto& l : lists_)
        if (!l.empty() && l.data() == reinterpret_cast<void**>(list))
            storage = &l;
    if (storage == nullptr) {
        lists_.emplace_back(list, list + count);
        storage = &lists_.back();
    }
    storage->push_back(item);
    list = reinterpret_cast<T**>(storage->data());
    count = storage->size();
}

Tlcrash__CrashReport__Thread* ReportBuilder::addThread(uint32_t number, bool crashed) {
    Tlcrash__CrashReport__Thread thread = TLCRASH__CRASH_REPORT__THREAD__INIT;
    thread.thread_number = number;
    thread.crashed = crashed;
    auto* kept = keep(thread);
    push(report.threads, report.n_threads, kept);
    return kept;
}

Tlcrash__CrashReport__Thread__StackFrame* ReportBuilder::addFrame(Tlcrash__CrashReport__Thread* thread, uint64_t pc,
                                                                  const char* symbol, uint64_t start) {
    Tlcrash__CrashReport__Thread__StackFrame frame = TLCRASH__CRASH_REPORT__THREAD__STACK_FRAME__INIT;
    frame.pc = pc;
    if (symbol != nullptr) {
        Tlcrash__CrashReport__Symbol s = TLCRASH__CRASH_REPORT__SYMBOL__INIT;
        s.name = const_cast<char*>(symbol);
        s.start_address = start;
        frame.symbol = keep(s);
    }
    auto* kept = keep(frame);
    if (thread != nullptr)
        push(thread->frames, thread->n_frames, kept);
    return kept;
}

void ReportBuilder::addRegister(Tlcrash__CrashReport__Thread* thread, const char* name, uint64_t value) {
    Tlcrash__CrashReport__Thread__RegisterValue reg = TLCRASH__CRASH_REPORT__THREAD__REGISTER_VALUE__INIT;
    reg.name = const_cast<char*>(name);
    reg.value = value;
    push(thread->registers, thread->n_registers, keep(reg));
}

Tlcrash__CrashReport__BinaryImage* ReportBuilder::addImage(uint64_t base, uint64_t size, const char* name,
                                                           uint64_t cpuType, uint64_t cpuSubtype, bool withCodeType,
                                                           const std::vector<uint8_t>& uuid) {
    Tlcrash__CrashReport__BinaryImage image = TLCRASH__CRASH_REPORT__BINARY_IMAGE__INIT;
    image.base_address = base;
    image.size = size;
    image.name = const_cast<char*>(name);
    if (!uuid.empty()) {
        bytes_.push_back(uuid);
        image.has_uuid = 1;
        image.uuid.len = uuid.size();
        image.uuid.data = bytes_.back().data();
    }
    if (withCodeType) {
        Tlcrash__CrashReport__Processor p = TLCRASH__CRASH_REPORT__PROCESSOR__INIT;
        p.has_encoding = 1;
        p.encoding = TLCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
        p.type = cpuType;
        p.subtype = cpuSubtype;
        image.code_type = keep(p);
    }
    auto* kept = keep(image);
    push(report.binary_images, report.n_binary_images, kept);
    return kept;
}

void ReportBuilder::setException(const char* name, const char* reason, const std::vector<uint64_t>& pcs) {
    exception_.name = const_cast<char*>(name);
    exception_.reason = const_cast<char*>(reason);
    for (uint64_t pc : pcs)
        push(exception_.frames, exception_.n_frames, addFrame(nullptr, pc));
    report.exception = &exception_;
}

void ReportBuilder::setMachCodes(uint64_t type, size_t count) {
    numbers_.emplace_back(count, 7);
    mach_.type = type;
    mach_.n_codes = count;
    mach_.codes = numbers_.back().data();
    signal.mach_exception = &mach_;
}

void ReportBuilder::setReportUuid(const std::vector<uint8_t>& uuid) {
    bytes_.push_back(uuid);
    info.has_uuid = 1;
    info.uuid.len = uuid.size();
    info.uuid.data = bytes_.back().data();
}

std::vector<uint8_t> ReportBuilder::bytes() const {
    std::vector<uint8_t> out{'t', 'l', 'c', 'r', 'a', 's', 'h', 1};
    const size_t size = tlcrash__crash_report__get_packed_size(&report);
    out.resize(8 + size);
    tlcrash__crash_report__pack(&report, out.data() + 8);
    return out;
}

}  // namespace crash_test
