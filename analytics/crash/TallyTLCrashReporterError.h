#pragma once
// Errors of the crash reporter: domain "TLCrashReporterErrorDomain", with the description under
// "NSLocalizedDescription" and, for operating-system failures, the POSIX error under
// "NSUnderlyingError" (a dictionary with domain, code and description).
#include "platform/base/Value.h"

#include <stdexcept>
#include <string>

enum TallyTLCrashReporterErrorCode : int64_t {
    TallyTLCrashReporterErrorUnknown = 0,
    TallyTLCrashReporterErrorOperatingSystem = 1,
    TallyTLCrashReporterErrorCrashReportInvalid = 2,
    TallyTLCrashReporterErrorResourceBusy = 3,
};

extern const char* const TallyTLCrashReporterErrorDomain;
extern const char* const TallyTLCrashReporterLocalizedDescriptionKey;
extern const char* const TallyTLCrashReporterUnderlyingErrorKey;

// Fills *error when error is not null.
void TallyTLCrashReporterSetError(platform::Error* error, TallyTLCrashReporterErrorCode code,
                                  const std::string& description);
// The same with the POSIX error number as the underlying error.
void TallyTLCrashReporterSetPosixError(platform::Error* error, TallyTLCrashReporterErrorCode code,
                                       const std::string& description, int posixError);
// An error of the POSIX domain itself (file errors of loading and purging).
platform::Error TallyTLCrashReporterPosixError(int posixError);

// Misuse of a reporter (enabling twice, callbacks after enabling).
class TLCrashReporterException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
