#pragma once
// Renders a decoded report as a readable crash log.
#include "analytics/crash/TallyTLCrashReport.h"

#include <functional>

class TallyTLCrashReportFormatter {
public:
    virtual ~TallyTLCrashReportFormatter() = default;
    virtual std::optional<platform::Data> formatReport(const TallyTLCrashReport& report, platform::Error* error) = 0;
};

enum TallyTLCrashReportTextFormat : int32_t {
    TallyTLCrashReportTextFormatiOS = 0,
};

// Output encodings: the values the platform's string encodings carry.
enum TallyTLCrashReportStringEncoding : uint64_t {
    TallyTLCrashReportStringEncodingASCII = 1,
    TallyTLCrashReportStringEncodingUTF8 = 4,
};

class TallyTLCrashReportTextFormatter : public TallyTLCrashReportFormatter {
public:
    TallyTLCrashReportTextFormatter(int32_t textFormat, uint64_t stringEncoding)
        : textFormat_(textFormat), stringEncoding_(stringEncoding) {}

    // The text in the stored encoding; characters it cannot hold become "?". Never fails.
    std::optional<platform::Data> formatReport(const TallyTLCrashReport& report, platform::Error* error) override;

    static std::string stringValueForCrashReport(const TallyTLCrashReport& report, int32_t textFormat);
    static std::string formatStackFrame(const TallyTLCrashReportStackFrameInfo& frame, int64_t frameIndex,
                                        const TallyTLCrashReport& report, bool lp64);

    // Where "Symbol prefix rules are unknown for this OS!" goes (stderr unless set).
    static void setLogSink(std::function<void(const std::string&)> sink);

private:
    int32_t textFormat_;
    uint64_t stringEncoding_;
};
