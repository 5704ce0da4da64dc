#include "analytics/delivery/TallyPulseCallbackAttemptInfo.h"

#include <algorithm>
#include <cstdint>

#include "analytics/agent/TallyPulseCallback.h"
#include "analytics/delivery/TallyProtocolData.h"

using platform::Value;

void TallyPulseCallbackAttemptInfo::registerArchiveClass() {
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        return initWithCoder(d);
    });
}

std::shared_ptr<TallyPulseCallbackAttemptInfo> TallyPulseCallbackAttemptInfo::initWithCoder(platform::ArchiveDecoder const& d) {
    using K = Value::Kind;
    for (char const* key : {"invokeId", "substitutedUrl", "body"})
        if (d.contains(key) && !d.value(key, K::String)) return nullptr;
    for (char const* key : {"callbackId", "attemptNumber", "cbSessionOffset", "httpStatus", "requestState",
                            "redirectsCount", "logSendState", "eventOccuranceId", "repeatDuration", "method"})
        if (d.contains(key) && !d.decodeInt(key)) return nullptr;
    for (char const* key : {"cbSessionId", "duration"})
        if (d.contains(key) && !d.value(key)->toDouble()) return nullptr;
    if (d.contains("finalAttempt") && !d.decodeBool("finalAttempt")) return nullptr;
    if (d.contains("responseBody") && !d.decodeData("responseBody")) return nullptr;
    if (d.contains("headers") && !d.decodeDict("headers")) return nullptr;
    if (d.contains("params") && !d.decodeDict("params")) return nullptr;
    if (d.contains("expiration") && !d.decodeDate("expiration")) return nullptr;

    auto a = std::make_shared<TallyPulseCallbackAttemptInfo>();
    a->invokeId_ = d.decodeString("invokeId").value_or("");
    a->callbackId_ = d.decodeInt("callbackId").value_or(0);
    a->substitutedUrl_ = d.decodeString("substitutedUrl").value_or("");
    a->attemptNumber_ = d.decodeInt("attemptNumber").value_or(0);
    a->cbSessionId_ = d.contains("cbSessionId") ? d.value("cbSessionId")->toDouble().value_or(0) : 0;
    a->cbSessionOffset_ = d.decodeInt("cbSessionOffset").value_or(0);
    a->finalAttempt_ = d.decodeBool("finalAttempt").value_or(false);
    a->httpStatus_ = int32_t(d.decodeInt("httpStatus").value_or(0));
    a->requestState_ = int32_t(d.decodeInt("requestState").value_or(0));
    a->responseBody_ = d.decodeData("responseBody");
    a->redirectsCount_ = d.decodeInt("redirectsCount").value_or(0);
    a->duration_ = d.contains("duration") ? d.value("duration")->toDouble().value_or(0) : 0;
    a->logSendState_ = int32_t(d.decodeInt("logSendState").value_or(0));
    a->eventOccuranceId_ = d.decodeInt("eventOccuranceId").value_or(0);
    a->body_ = d.decodeString("body");
    if (auto const* h = d.decodeDict("headers")) {
        a->headers_ = tallyHeadersFromDict(*h);
        if (!a->headers_) return nullptr;
    }
    if (auto const* p = d.decodeDict("params")) a->params_ = *p;
    a->repeatDuration_ = int32_t(d.decodeInt("repeatDuration").value_or(0));
    a->method_ = int32_t(d.decodeInt("method").value_or(0));
    a->expiration_ = d.decodeDate("expiration");
    return a;
}

void TallyPulseCallbackAttemptInfo::encodeWith(platform::ArchiveEncoder& e) const {
    std::lock_guard<std::mutex> lock(mutex_);
    e.encode("invokeId", invokeId_);
    e.encode("callbackId", callbackId_);
    e.encode("substitutedUrl", substitutedUrl_);
    e.encode("attemptNumber", attemptNumber_);
    e.encode("cbSessionId", cbSessionId_);
    e.encode("cbSessionOffset", cbSessionOffset_);
    e.encode("finalAttempt", finalAttempt_);
    e.encode("httpStatus", httpStatus_);
    e.encode("requestState", requestState_);
    if (responseBody_) e.encode("responseBody", *responseBody_);
    e.encode("redirectsCount", redirectsCount_);
    e.encode("duration", duration_);
    e.encode("logSendState", logSendState_);
    e.encode("eventOccuranceId", eventOccuranceId_);
    if (body_) e.encode("body", *body_);
    if (headers_) e.encode("headers", tallyHeadersToDict(*headers_));
    e.encode("params", params_);
    e.encode("repeatDuration", repeatDuration_);
    e.encode("method", method_);
    if (expiration_) e.encode("expiration", *expiration_);
}

std::shared_ptr<TallyPulseCallbackAttemptInfo> TallyPulseCallbackAttemptInfo::copy() const {
    auto c = std::make_shared<TallyPulseCallbackAttemptInfo>();
    std::lock_guard<std::mutex> lock(mutex_);
    c->invokeId_ = invokeId_;
    c->callbackId_ = callbackId_;
    c->attemptNumber_ = attemptNumber_;
    c->cbSessionId_ = cbSessionId_;
    c->cbSessionOffset_ = cbSessionOffset_;
    c->finalAttempt_ = finalAttempt_;
    c->httpStatus_ = httpStatus_;
    c->requestState_ = requestState_;
    c->responseBody_ = responseBody_;
    c->redirectsCount_ = redirectsCount_;
    c->duration_ = duration_;
    c->logSendState_ = logSendState_;
    c->eventOccuranceId_ = eventOccuranceId_;
    c->substitutedUrl_ = substitutedUrl_;
    c->body_ = body_;
    c->headers_ = headers_;
    c->params_ = params_;
    c->creationTime_ = creationTime_;
    c->beingFired_ = beingFired_;
    c->repeatDuration_ = repeatDuration_;
    c->method_ = method_;
    c->expiration_ = expiration_;
    return c;
}

platform::Data TallyPulseCallbackAttemptInfo::data() {
    std::lock_guard<std::mutex> lock(mutex_);
    platform::Data out;
    TallyProtocolData::appendUshort(uint16_t(attemptNumber_), out);
    TallyProtocolData::appendLong(Value(cbSessionId_).toInt64().value_or(0), out);
    TallyProtocolData::appendLong(cbSessionOffset_, out);
    TallyProtocolData::appendBoolean(finalAttempt_, out);
    TallyProtocolData::appendUshort(uint16_t(httpStatus_), out);
    TallyProtocolData::appendUshort(uint16_t(requestState_), out);
    if (httpStatus_ < 200 || httpStatus_ >= 400) {
        platform::Data const empty;
        TallyProtocolData::appendShortData(responseBody_ ? *responseBody_ : empty, out);
    }
    TallyProtocolData::appendUshort(uint16_t(redirectsCount_), out);
    TallyProtocolData::appendInt(int32_t(std::clamp<int64_t>(Value(duration_).toInt64().value_or(0), INT32_MIN, INT32_MAX)), out);
    logSendState_ = kInReport;
    return out;
}
