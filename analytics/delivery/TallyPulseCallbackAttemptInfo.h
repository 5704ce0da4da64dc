#pragma once
// One try of a partner callback: what was sent, how it ended, and whether it has been reported.
// An attempt is shared by the attempt maps and its callback report, and is changed from the
// maps' queues while the report manager reads it, so every field is read and written under the
// attempt's own lock.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/base/KeyedArchive.h"
#include "platform/base/Value.h"

#define TALLY_ATTEMPT_FIELD(Type, name, Name)          \
public:                                                \
    Type name() const {                                \
        std::lock_guard<std::mutex> lock(mutex_);      \
        return name##_;                                \
    }                                                  \
    void set##Name(Type v) {                           \
        std::lock_guard<std::mutex> lock(mutex_);      \
        name##_ = std::move(v);                        \
    }                                                  \
                                                       \
private:                                               \
    Type name##_{};

class TallyPulseCallbackAttemptInfo : public platform::Archivable {
public:
    static constexpr char const* kClassName = "TallyPulseCallbackAttemptInfo";
    using Headers = std::map<std::string, std::string>;
    enum RequestState : int32_t { kPrepared = 0, kSucceeded = 1, kCancelled = 2, kFailed = 4 };
    enum LogSendState : int32_t { kNotReported = 0, kInReport = 1, kHandedOver = 2 };

    static void registerArchiveClass();
    // Nothing when a stored field has the wrong kind.
    static std::shared_ptr<TallyPulseCallbackAttemptInfo> initWithCoder(platform::ArchiveDecoder const& decoder);
    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;
    std::shared_ptr<TallyPulseCallbackAttemptInfo> copy() const;

    // The attempt record of the status report; marks the attempt as written into a report.
    platform::Data data();

    TALLY_ATTEMPT_FIELD(std::string, invokeId, InvokeId)
    TALLY_ATTEMPT_FIELD(int64_t, callbackId, CallbackId)
    TALLY_ATTEMPT_FIELD(int64_t, attemptNumber, AttemptNumber)
    TALLY_ATTEMPT_FIELD(double, cbSessionId, CbSessionId)
    TALLY_ATTEMPT_FIELD(int64_t, cbSessionOffset, CbSessionOffset)
    TALLY_ATTEMPT_FIELD(bool, finalAttempt, FinalAttempt)
    TALLY_ATTEMPT_FIELD(int32_t, httpStatus, HttpStatus)
    TALLY_ATTEMPT_FIELD(int32_t, requestState, RequestState)
    TALLY_ATTEMPT_FIELD(std::optional<platform::Data>, responseBody, ResponseBody)
    TALLY_ATTEMPT_FIELD(int64_t, redirectsCount, RedirectsCount)
    TALLY_ATTEMPT_FIELD(double, duration, Duration)
    TALLY_ATTEMPT_FIELD(int32_t, logSendState, LogSendState)
    TALLY_ATTEMPT_FIELD(int64_t, eventOccuranceId, EventOccuranceId)
    TALLY_ATTEMPT_FIELD(std::string, substitutedUrl, SubstitutedUrl)
    TALLY_ATTEMPT_FIELD(std::optional<std::string>, body, Body)
    TALLY_ATTEMPT_FIELD(std::optional<Headers>, headers, Headers)
    TALLY_ATTEMPT_FIELD(platform::Value::Dict, params, Params)
    TALLY_ATTEMPT_FIELD(std::optional<platform::Date>, creationTime, CreationTime)
    TALLY_ATTEMPT_FIELD(bool, beingFired, BeingFired)
    TALLY_ATTEMPT_FIELD(int32_t, repeatDuration, RepeatDuration)
    TALLY_ATTEMPT_FIELD(int32_t, method, Method)
    TALLY_ATTEMPT_FIELD(std::optional<platform::Date>, expiration, Expiration)

private:
    mutable std::mutex mutex_;
};

#undef TALLY_ATTEMPT_FIELD
