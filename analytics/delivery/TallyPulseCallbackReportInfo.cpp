#include "analytics/delivery/TallyPulseCallbackReportInfo.h"

#include <algorithm>

#include "analytics/delivery/TallyProtocolData.h"

using platform::Value;

void TallyPulseCallbackReportInfo::registerArchiveClass() {
    TallyPulseCallbackAttemptInfo::registerArchiveClass();
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        return initWithCoder(d);
    });
}

std::shared_ptr<TallyPulseCallbackReportInfo> TallyPulseCallbackReportInfo::initWithCoder(platform::ArchiveDecoder const& d) {
    using K = Value::Kind;
    for (char const* key : {"invokeId", "substitutedUrl"})
        if (d.contains(key) && !d.value(key, K::String)) return nullptr;
    if (d.contains("callbackId") && !d.decodeInt("callbackId")) return nullptr;
    if (d.contains("attempts") && !d.decodeArray("attempts")) return nullptr;
    auto r = std::make_shared<TallyPulseCallbackReportInfo>();
    r->invokeId = d.decodeString("invokeId").value_or("");
    r->callbackId = d.decodeInt("callbackId").value_or(0);
    r->substitutedUrl_ = d.decodeString("substitutedUrl").value_or("");
    if (auto const* list = d.decodeArray("attempts"))
        for (auto const& v : *list) {
            auto a = v.objectAs<TallyPulseCallbackAttemptInfo>();
            if (!a) return nullptr;
            r->attempts_.push_back(std::move(a));
        }
    return r;
}

void TallyPulseCallbackReportInfo::encodeWith(platform::ArchiveEncoder& e) const {
    e.encode("invokeId", invokeId);
    e.encode("callbackId", callbackId);
    e.encode("substitutedUrl", substitutedUrl());
    Value::Array list;
    for (auto const& a : attempts()) list.emplace_back(a);
    e.encode("attempts", std::move(list));
}

std::shared_ptr<TallyPulseCallbackReportInfo> TallyPulseCallbackReportInfo::copy() const {
    auto r = std::make_shared<TallyPulseCallbackReportInfo>();
    r->invokeId = invokeId;
    r->callbackId = callbackId;
    r->substitutedUrl_ = substitutedUrl();
    r->attempts_ = attempts();
    return r;
}

std::optional<platform::Data> TallyPulseCallbackReportInfo::data() {
    platform::Data records;
    uint64_t count = 0;
    std::string url;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        url = substitutedUrl_;
        for (auto const& a : attempts_) {
            if (!a) return std::nullopt;
            if (a->beingFired()) continue;
            auto const r = a->data();
            records.insert(records.end(), r.begin(), r.end());
            ++count;
        }
    }
    if (count == 0) return std::nullopt;
    platform::Data out;
    TallyProtocolData::appendLong(callbackId, out);
    TallyProtocolData::appendStringUnlimited(url, out);
    TallyProtocolData::appendUshort(uint16_t(count), out);
    out.insert(out.end(), records.begin(), records.end());
    return out;
}

void TallyPulseCallbackReportInfo::setAttemptsSent() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto const& a : attempts_)
        if (a->logSendState() == TallyPulseCallbackAttemptInfo::kInReport)
            a->setLogSendState(TallyPulseCallbackAttemptInfo::kHandedOver);
}

uint64_t TallyPulseCallbackReportInfo::removeSentAttempts() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(attempts_, [](Attempt const& a) { return a->logSendState() == TallyPulseCallbackAttemptInfo::kHandedOver; });
    return attempts_.size();
}

bool TallyPulseCallbackReportInfo::finalAttemptMade() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(attempts_.begin(), attempts_.end(), [](Attempt const& a) { return a->finalAttempt(); });
}

std::vector<TallyPulseCallbackReportInfo::Attempt> TallyPulseCallbackReportInfo::attempts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return attempts_;
}

void TallyPulseCallbackReportInfo::setAttempts(std::vector<Attempt> attempts) {
    std::lock_guard<std::mutex> lock(mutex_);
    attempts_ = std::move(attempts);
}

void TallyPulseCallbackReportInfo::appendAttempt(Attempt attempt) {
    std::lock_guard<std::mutex> lock(mutex_);
    attempts_.push_back(std::move(attempt));
}

void TallyPulseCallbackReportInfo::mergeAttempt(Attempt attempt) {
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t const number = attempt->attemptNumber();
    for (auto& a : attempts_)
        if (a->attemptNumber() == number) {
            a = std::move(attempt);
            return;
        }
    attempts_.push_back(std::move(attempt));
}

size_t TallyPulseCallbackReportInfo::attemptCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return attempts_.size();
}

std::string TallyPulseCallbackReportInfo::substitutedUrl() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return substitutedUrl_;
}

void TallyPulseCallbackReportInfo::setSubstitutedUrl(std::string url) {
    std::lock_guard<std::mutex> lock(mutex_);
    substitutedUrl_ = std::move(url);
}
