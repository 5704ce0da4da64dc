#include "analytics/crash/TallyTLCrashReporterError.h"

#include <cstring>

const char* const TallyTLCrashReporterErrorDomain = "TLCrashReporterErrorDomain";
const char* const TallyTLCrashReporterLocalizedDescriptionKey = "NSLocalizedDescription";
const char* const TallyTLCrashReporterUnderlyingErrorKey = "NSUnderlyingError";

void TallyTLCrashReporterSetError(platform::Error* error, TallyTLCrashReporterErrorCode code,
                                  const std::string& description) {
    if (error == nullptr)
        return;
    *error = platform::Error{TallyTLCrashReporterErrorDomain, code, {}};
    error->userInfo[TallyTLCrashReporterLocalizedDescriptionKey] = description;
}

platform::Error TallyTLCrashReporterPosixError(int posixError) {
    platform::Error out{"NSPOSIXErrorDomain", posixError, {}};
    out.userInfo[TallyTLCrashReporterLocalizedDescriptionKey] = std::string(std::strerror(posixError));
    return out;
}

void TallyTLCrashReporterSetPosixError(platform::Error* error, TallyTLCrashReporterErrorCode code,
                                       const std::string& description, int posixError) {
    if (error == nullptr)
        return;
    TallyTLCrashReporterSetError(error, code, description);
    const platform::Error underlying = TallyTLCrashReporterPosixError(posixError);
    platform::Value::Dict info;
    info["domain"] = underlying.domain;
    info["code"] = underlying.code;
    info[TallyTLCrashReporterLocalizedDescriptionKey] = underlying.userInfo.at(TallyTLCrashReporterLocalizedDescriptionKey);
    error->userInfo[TallyTLCrashReporterUnderlyingErrorKey] = std::move(info);
}
