#include "analytics/crash/TallyTLCrashReport.h"

#include "analytics/crash/TallyTLCrashReporterError.h"
#include "analytics/crash/tlcrash.pb-c.h"

#include <cstring>
#include <iterator>
#include <utf8.h>

namespace {

// A structural problem of the report, with the text the caller gets.
struct DecodeFailure {
    std::string message;
};

std::string text(const char* s) {
    std::string out;
    const size_t length = std::strlen(s);
    utf8::replace_invalid(s, s + length, std::back_inserter(out));
    return out;
}

std::optional<std::string> optionalText(const char* s) {
    return s ? std::optional<std::string>(text(s)) : std::nullopt;
}

std::string required(const char* s, const char* missing) {
    if (s == nullptr)
        throw DecodeFailure{missing};
    return text(s);
}

// protobuf-c stores whatever number arrived in its enum fields; read them as plain numbers.
template <typename Enum>
int32_t enumValue(const Enum& field) {
    static_assert(sizeof(Enum) == sizeof(int32_t));
    int32_t raw;
    std::memcpy(&raw, &field, sizeof raw);
    return raw;
}

platform::Date dateAt(uint64_t seconds) { return platform::Date{static_cast<double>(seconds)}; }

struct UnpackedReport {
    Tlcrash__CrashReport* message;
    ~UnpackedReport() {
        if (message)
            tlcrash__crash_report__free_unpacked(message, nullptr);
    }
};

}  // namespace

struct TallyTLCrashReportDecoder {
    static std::shared_ptr<TallyTLCrashReportProcessorInfo> processor(const Tlcrash__CrashReport__Processor* p) {
        if (p == nullptr)
            throw DecodeFailure{"Crash report is missing processor info section"};
        return std::make_shared<TallyTLCrashReportProcessorInfo>(p->has_encoding ? enumValue(p->encoding) : 0, p->type,
                                                                 p->subtype);
    }

    static TallyTLCrashReportStackFrames frames(Tlcrash__CrashReport__Thread__StackFrame** list, size_t count) {
        TallyTLCrashReportStackFrames out;
        out.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            const auto* frame = list[i];
            if (frame == nullptr)
                throw DecodeFailure{"Crash report is missing stack frame information"};
            std::shared_ptr<TallyTLCrashReportSymbolInfo> symbol;
            if (frame->symbol != nullptr) {
                symbol = std::make_shared<TallyTLCrashReportSymbolInfo>(
                    required(frame->symbol->name, "Crash report is missing symbol information"),
                    frame->symbol->start_address, frame->symbol->has_end_address ? frame->symbol->end_address : 0);
            }
            out.push_back(std::make_shared<TallyTLCrashReportStackFrameInfo>(frame->pc, std::move(symbol)));
        }
        return out;
    }

    static void convert(TallyTLCrashReport& report, const Tlcrash__CrashReport* m) {
        if (m->report_info != nullptr && m->report_info->has_uuid) {
            if (m->report_info->uuid.len != 16)
                throw DecodeFailure{"Report UUID value is not a standard 16 bytes"};
            std::array<uint8_t, 16> uuid;
            std::memcpy(uuid.data(), m->report_info->uuid.data, 16);
            report.uuid_ = uuid;
        }

        const auto* system = m->system_info;
        if (system == nullptr)
            throw DecodeFailure{"Crash report is missing System Information section"};
        report.systemInfo_ = std::make_shared<TallyTLCrashReportSystemInfo>(
            system->has_operating_system ? enumValue(system->operating_system) : 0,
            required(system->os_version, "Crash report is missing System Information OS version field"),
            optionalText(system->os_build), enumValue(system->architecture),
            system->timestamp == 0 ? std::nullopt
                                   : std::optional<platform::Date>(platform::Date{static_cast<double>(system->timestamp)}));

        if (const auto* machine = m->machine_info) {
            report.machineInfo_ = std::make_shared<TallyTLCrashReportMachineInfo>(
                optionalText(machine->model), processor(machine->processor), machine->processor_count,
                machine->logical_processor_count);
        }

        const auto* application = m->application_info;
        if (application == nullptr)
            throw DecodeFailure{"Crash report is missing Application Information section"};
        report.applicationInfo_ = std::make_shared<TallyTLCrashReportApplicationInfo>(
            required(application->identifier, "Crash report is missing Application Information app identifier field"),
            required(application->version, "Crash report is missing Application Information app version field"),
            optionalText(application->marketing_version));

        if (const auto* process = m->process_info) {
            report.processInfo_ = std::make_shared<TallyTLCrashReportProcessInfo>(
                optionalText(process->process_name), process->process_id, optionalText(process->process_path),
                process->has_start_time ? std::optional<platform::Date>(dateAt(process->start_time)) : std::nullopt,
                optionalText(process->parent_process_name), process->parent_process_id, process->native);
        }

        const auto* signal = m->signal;
        if (signal == nullptr)
            throw DecodeFailure{"Crash report is missing Signal Information section"};
        report.signalInfo_ = std::make_shared<TallyTLCrashReportSignalInfo>(
            required(signal->name, "Crash report is missing signal name field"),
            required(signal->code, "Crash report is missing signal code field"), signal->address);
        if (const auto* mach = signal->mach_exception) {
            if (mach->n_codes > 255)
                throw DecodeFailure{"Crash report includes too many Mach Exception codes"};
            report.machExceptionInfo_ = std::make_shared<TallyTLCrashReportMachExceptionInfo>(
                mach->type, std::vector<uint64_t>(mach->codes, mach->codes + mach->n_codes));
        }

        if (m->n_threads == 0)
            throw DecodeFailure{"Crash report is missing thread state information"};
        for (size_t i = 0; i < m->n_threads; ++i) {
            const auto* thread = m->threads[i];
            std::vector<std::shared_ptr<TallyTLCrashReportRegisterInfo>> registers;
            for (size_t r = 0; r < thread->n_registers; ++r) {
                registers.push_back(std::make_shared<TallyTLCrashReportRegisterInfo>(
                    required(thread->registers[r]->name, "Missing register name in register value"),
                    thread->registers[r]->value));
            }
            report.threads_.push_back(std::make_shared<TallyTLCrashReportThreadInfo>(
                thread->thread_number, frames(thread->frames, thread->n_frames), thread->crashed,
                std::move(registers)));
        }

        if (m->n_binary_images == 0)
            throw DecodeFailure{"Crash report is missing binary image information"};
        for (size_t i = 0; i < m->n_binary_images; ++i) {
            const auto* image = m->binary_images[i];
            std::optional<std::string> uuid;
            if (image->has_uuid) {
                static const char digits[] = "0123456789abcdef";
                std::string hex;
                for (size_t b = 0; b < image->uuid.len; ++b) {
                    hex += digits[image->uuid.data[b] >> 4];
                    hex += digits[image->uuid.data[b] & 0xF];
                }
                uuid = hex;
            }
            report.images_.push_back(std::make_shared<TallyTLCrashReportBinaryImageInfo>(
                image->code_type ? processor(image->code_type) : nullptr, image->base_address, image->size,
                required(image->name, "Missing image name in image record"), std::move(uuid)));
        }

        if (const auto* exception = m->exception) {
            auto name = required(exception->name, "Crash report is missing exception name field");
            auto reason = required(exception->reason, "Crash report is missing exception reason field");
            std::optional<TallyTLCrashReportStackFrames> stack;
            if (exception->n_frames > 0)
                stack = frames(exception->frames, exception->n_frames);
            report.exceptionInfo_ =
                std::make_shared<TallyTLCrashReportExceptionInfo>(std::move(name), std::move(reason), std::move(stack));
        }
    }
};

std::shared_ptr<TallyTLCrashReport> TallyTLCrashReport::initWithData(const std::vector<uint8_t>& data,
                                                                     platform::Error* error) {
    auto fail = [&](const std::string& message) {
        TallyTLCrashReporterSetError(error, TallyTLCrashReporterErrorCrashReportInvalid, message);
        return nullptr;
    };
    if (data.size() <= 8)
        return fail("Could not decode truncated crash log");
    if (std::memcmp(data.data(), "tlcrash", 7) != 0)
        return fail("Could not decode invalid crash log header");
    if (data[7] != 1)
        return fail("Could not decode unsupported crash report version: " + std::to_string(data[7]));
    UnpackedReport unpacked{tlcrash__crash_report__unpack(nullptr, data.size() - 8, data.data() + 8)};
    if (unpacked.message == nullptr)
        return fail("An unknown error occured decoding the crash report");
    std::shared_ptr<TallyTLCrashReport> report(new TallyTLCrashReport());
    try {
        TallyTLCrashReportDecoder::convert(*report, unpacked.message);
    } catch (const DecodeFailure& failure) {
        return fail(failure.message);
    }
    return report;
}

std::shared_ptr<TallyTLCrashReportBinaryImageInfo> TallyTLCrashReport::imageForAddress(uint64_t address) const {
    for (const auto& image : images_) {
        if (address >= image->imageBaseAddress() && address - image->imageBaseAddress() < image->imageSize())
            return image;
    }
    return nullptr;
}
