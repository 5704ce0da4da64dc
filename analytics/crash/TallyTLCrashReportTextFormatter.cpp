#include "analytics/crash/TallyTLCrashReportTextFormatter.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <iterator>
#include <iostream>
#include <mutex>
#include <utf8.h>
#include <uuid/uuid.h>

namespace {

const std::string kUnknown = "???";

// Set while a whole report is being printed, and once that report's prefix warning is out.
thread_local bool formattingReport = false;
thread_local bool prefixWarned = false;

std::mutex logMutex;
std::function<void(const std::string&)> logSink;

void logLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(logMutex);
    if (logSink)
        logSink(line);
    else
        std::cerr << line << '\n';
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, pattern, copy);
    va_end(copy);
    std::string out(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(out.data(), out.size() + 1, pattern, args);
    va_end(args);
    return out;
}

std::string lastPathComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    return slash == std::string::npos || trimmed.size() == 1 ? trimmed : trimmed.substr(slash + 1);
}

std::string or_unknown(const std::optional<std::string>& s) { return s ? *s : kUnknown; }

// The model's strings are valid UTF-8; anything else is mended before it is walked.
std::string valid(const std::string& s) {
    std::string out;
    utf8::replace_invalid(s.begin(), s.end(), std::back_inserter(out));
    return out;
}

// Left-aligned in width columns, counted in UTF-16 units as the platform's strings count.
std::string padUtf16(const std::string& text, size_t width) {
    const std::string s = valid(text);
    size_t units = 0;
    for (auto it = s.begin(); it != s.end();) {
        const uint32_t cp = utf8::next(it, s.end());
        units += cp > 0xFFFF ? 2 : 1;
    }
    return units >= width ? s : s + std::string(width - units, ' ');
}

std::string operatingSystemName(int32_t os) {
    switch (os) {
    case 0: case 2: return "Mac OS X";
    case 1: return "iPhone OS";
    default: return format("Unknown (%d)", os);
    }
}

struct CodeType {
    std::string name;
    bool lp64;
};

CodeType codeType(const TallyTLCrashReport& report) {
    for (const auto& image : report.images()) {
        const auto& type = image->codeType();
        if (!type || type->typeEncoding() != 1)
            continue;
        switch (type->type()) {
        case 7: return {"X86", false};
        case 12: return {"ARM", false};
        case 0x100000C: return {"ARM-64", true};
        case 0x1000007: return {"X86-64", true};
        case 18: return {"PPC", false};
        default: break;
        }
    }
    const int32_t architecture = report.systemInfo()->architecture();
    switch (architecture) {
    case 0: return {"X86", false};
    case 1: return {"X86-64", true};
    case 2: case 5: return {"ARM", false};
    case 3: return {"PPC", false};
    default: return {format("Unknown (%d)", architecture), true};
    }
}

std::string architectureName(const std::shared_ptr<TallyTLCrashReportProcessorInfo>& type) {
    if (!type || type->typeEncoding() != 1)
        return kUnknown;
    switch (type->type()) {
    case 7: return "i386";
    case 12:
        switch (type->subtype()) {
        case 6: return "armv6";
        case 9: return "armv7";
        case 11: return "armv7s";
        default: return "arm-unknown";
        }
    case 18: return "powerpc";
    case 0x1000007: return "x86_64";
    case 0x100000C:
        switch (type->subtype()) {
        case 0: return "arm64";
        case 13: return "armv8";
        default: return "arm64-unknown";
        }
    default: return kUnknown;
    }
}

std::string dateText(const std::optional<platform::Date>& date) {
    if (!date)
        return kUnknown;
    const auto seconds = static_cast<time_t>(date->secondsSince1970);
    tm parts{};
    if (gmtime_r(&seconds, &parts) == nullptr)
        return kUnknown;
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &parts);
    return buffer;
}

std::string toAscii(const std::string& original) {
    const std::string text = valid(original);
    std::string out;
    for (auto it = text.begin(); it != text.end();) {
        const uint32_t cp = utf8::next(it, text.end());
        out += cp < 0x80 ? static_cast<char>(cp) : '?';
    }
    return out;
}

}  // namespace

void TallyTLCrashReportTextFormatter::setLogSink(std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> lock(logMutex);
    logSink = std::move(sink);
}

std::string TallyTLCrashReportTextFormatter::formatStackFrame(const TallyTLCrashReportStackFrameInfo& frame,
                                                              int64_t frameIndex, const TallyTLCrashReport& report,
                                                              bool lp64) {
    const uint64_t pc = frame.instructionPointer();
    std::string label = kUnknown;
    uint64_t base = 0;
    uint64_t offset = 0;
    if (auto image = report.imageForAddress(pc)) {
        label = lastPathComponent(image->imageName());
        base = image->imageBaseAddress();
        offset = pc - base;
    }
    std::string symbolText;
    if (const auto& symbol = frame.symbolInfo()) {
        std::string name = symbol->symbolName();
        if (name.size() >= 2 && name[0] == '_') {
            const int32_t os = report.systemInfo()->operatingSystem();
            if (os == 0 || os == 1 || os == 2)
                name.erase(0, 1);
            else if (!prefixWarned) {
                logLine("Symbol prefix rules are unknown for this OS!");
                // Said once per printed report, not once per frame of it.
                prefixWarned = formattingReport;
            }
        }
        // C++ names are kept mangled in the report and shown as a developer writes them.
        if (name.rfind("_Z", 0) == 0) {
            int status = 0;
            if (char* readable = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status)) {
                if (status == 0)
                    name = readable;
                std::free(readable);
            }
        }
        symbolText = format("%s + %lld", name.c_str(), static_cast<long long>(pc - symbol->startAddress()));
    } else {
        symbolText = format("0x%llx + %lld", static_cast<unsigned long long>(base), static_cast<long long>(offset));
    }
    return format("%-4ld", static_cast<long>(frameIndex)) + padUtf16(label, 35) +
           format(" 0x%0*llx ", lp64 ? 16 : 8, static_cast<unsigned long long>(pc)) + symbolText + "\n";
}

std::string TallyTLCrashReportTextFormatter::stringValueForCrashReport(const TallyTLCrashReport& report, int32_t) {
    formattingReport = true;
    prefixWarned = false;
    struct Done {
        ~Done() { formattingReport = prefixWarned = false; }
    } done;
    std::string out;
    const CodeType code = codeType(report);
    const auto& system = *report.systemInfo();
    const auto& application = *report.applicationInfo();
    const auto& process = report.processInfo();

    std::string incident = kUnknown;
    if (const auto& uuid = report.uuidRef()) {
        char text[37];
        uuid_unparse_upper(uuid->data(), text);
        incident = text;
    }
    out += "Incident Identifier: " + incident + "\n";
    out += "CrashReporter Key:   TODO\n";
    out += "Hardware Model:      " + (report.machineInfo() ? or_unknown(report.machineInfo()->modelName()) : kUnknown) +
           "\n";
    out += "Process:         " + (process ? or_unknown(process->processName()) : kUnknown) + " [" +
           (process ? std::to_string(process->processID()) : kUnknown) + "]\n";
    out += "Path:            " + (process ? or_unknown(process->processPath()) : kUnknown) + "\n";
    out += "Identifier:      " + application.applicationIdentifier() + "\n";
    out += "Version:         " +
           (application.applicationMarketingVersion()
                ? *application.applicationMarketingVersion() + " (" + application.applicationVersion() + ")"
                : application.applicationVersion()) +
           "\n";
    out += "Code Type:       " + code.name + "\n";
    out += "Parent Process:  " + (process ? or_unknown(process->parentProcessName()) : kUnknown) + " [" +
           (process ? std::to_string(process->parentProcessID()) : kUnknown) + "]\n";
    out += "\n";
    out += "Date/Time:       " + dateText(system.timestamp()) + "\n";
    out += "OS Version:      " + operatingSystemName(system.operatingSystem()) + " " + system.operatingSystemVersion() +
           " (" + or_unknown(system.operatingSystemBuild()) + ")\n";
    out += "Report Version:  104\n";
    out += "\n";
    const auto& signal = *report.signalInfo();
    out += "Exception Type:  " + signal.name() + "\n";
    out += "Exception Codes: " + signal.code() + format(" at 0x%llx\n", static_cast<unsigned long long>(signal.address()));
    std::shared_ptr<TallyTLCrashReportThreadInfo> firstCrashed;
    std::shared_ptr<TallyTLCrashReportThreadInfo> lastCrashed;
    for (const auto& thread : report.threads()) {
        if (!thread->crashed())
            continue;
        if (!firstCrashed)
            firstCrashed = thread;
        lastCrashed = thread;
    }
    if (firstCrashed)
        out += format("Crashed Thread:  %ld\n", static_cast<long>(firstCrashed->threadNumber()));
    out += "\n";

    if (const auto& exception = report.exceptionInfo()) {
        out += "Application Specific Information:\n";
        out += "*** Terminating app due to uncaught exception '" + exception->exceptionName() + "', reason: '" +
               exception->exceptionReason() + "'\n";
        out += "\n";
        if (exception->stackFrames() && !exception->stackFrames()->empty()) {
            out += "Last Exception Backtrace:\n";
            int64_t index = 0;
            for (const auto& frame : *exception->stackFrames())
                out += formatStackFrame(*frame, index++, report, code.lp64);
            out += "\n";
        }
    }

    for (const auto& thread : report.threads()) {
        out += thread->crashed() ? format("Thread %ld Crashed:\n", static_cast<long>(thread->threadNumber()))
                                 : format("Thread %ld:\n", static_cast<long>(thread->threadNumber()));
        int64_t index = 0;
        for (const auto& frame : thread->stackFrames())
            out += formatStackFrame(*frame, index++, report, code.lp64);
        out += "\n";
    }

    if (lastCrashed) {
        out += format("Thread %ld crashed with ", static_cast<long>(lastCrashed->threadNumber())) + code.name +
               " Thread State:\n";
        bool armFamily = false;
        if (report.machineInfo() && report.machineInfo()->processorInfo()) {
            const auto& processor = *report.machineInfo()->processorInfo();
            armFamily = processor.typeEncoding() == 1 && (processor.type() & 0xFFFFFF) == 12;
        }
        size_t column = 0;
        for (const auto& reg : lastCrashed->registers()) {
            std::string name = reg->registerName();
            if (armFamily && name == "r12")
                name = "ip";
            out += format(code.lp64 ? "%6s: 0x%016llx " : "%6s: 0x%08llx ", name.c_str(),
                          static_cast<unsigned long long>(reg->registerValue()));
            if (++column == 4) {
                out += "\n";
                column = 0;
            }
        }
        if (column != 0)
            out += "\n";
        out += "\n";
    }

    out += "Binary Images:\n";
    auto images = report.images();
    std::stable_sort(images.begin(), images.end(), [](const auto& a, const auto& b) {
        return a->imageBaseAddress() < b->imageBaseAddress();
    });
    const std::string processPath = process && process->processPath() ? *process->processPath() : std::string();
    for (const auto& image : images) {
        const uint64_t base = image->imageBaseAddress();
        const uint64_t size = image->imageSize() ? image->imageSize() : 1;
        const uint64_t end = base + size - 1;
        out += format(code.lp64 ? "%#18llx - %#18llx " : "%#10llx - %#10llx ", static_cast<unsigned long long>(base),
                      static_cast<unsigned long long>(end));
        out += (process && process->processPath() && image->imageName() == processPath ? "+" : " ") +
               lastPathComponent(image->imageName()) + " " + architectureName(image->codeType()) + "  <" +
               or_unknown(image->imageUUID()) + "> " + image->imageName() + "\n";
    }
    return out;
}

std::optional<platform::Data> TallyTLCrashReportTextFormatter::formatReport(const TallyTLCrashReport& report,
                                                                            platform::Error*) {
    std::string text = stringValueForCrashReport(report, textFormat_);
    if (stringEncoding_ == TallyTLCrashReportStringEncodingASCII)
        text = toAscii(text);
    return platform::Data(text.begin(), text.end());
}
