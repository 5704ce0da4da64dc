// Any bytes as a report file: decoding gives a report or an error, and formatting a decoded
// report always gives text.
#include "analytics/crash/TallyTLCrashReportTextFormatter.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    platform::Error error;
    auto report = TallyTLCrashReport::initWithData(bytes, &error);
    if (!report) {
        if (error.code != 2)
            __builtin_trap();
        return 0;
    }
    TallyTLCrashReportTextFormatter::setLogSink([](const std::string&) {});
    TallyTLCrashReportTextFormatter formatter(TallyTLCrashReportTextFormatiOS, TallyTLCrashReportStringEncodingUTF8);
    auto text = formatter.formatReport(*report, nullptr);
    if (!text || text->empty())
        __builtin_trap();
    return 0;
}
