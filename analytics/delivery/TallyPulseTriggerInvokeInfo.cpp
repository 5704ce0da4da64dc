#include "analytics/delivery/TallyPulseTriggerInvokeInfo.h"

#include <algorithm>

#include "analytics/delivery/TallyProtocolData.h"

using platform::Value;

void TallyPulseTriggerInvokeInfo::registerArchiveClass() {
    TallyPulseCallbackReportInfo::registerArchiveClass();
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        return initWithCoder(d);
    });
}

namespace {
std::shared_ptr<TallyPulseTriggerInvokeInfo> readFields(platform::ArchiveDecoder const& d) {
    using K = Value::Kind;
    for (char const* key : {"invokeId", "eventName"})
        if (d.contains(key) && !d.value(key, K::String)) return nullptr;
    for (char const* key : {"triggerType", "sessionOffset", "eventOccuranceId"})
        if (d.contains(key) && !d.decodeInt(key)) return nullptr;
    if (d.contains("sessionId") && !d.value("sessionId")->toDouble()) return nullptr;
    if (d.contains("includesEventTrigger") && !d.decodeBool("includesEventTrigger")) return nullptr;
    if (d.contains("callbacks") && !d.decodeArray("callbacks")) return nullptr;
    auto i = std::make_shared<TallyPulseTriggerInvokeInfo>();
    i->invokeId = d.decodeString("invokeId").value_or("");
    i->eventName = d.decodeString("eventName").value_or("");
    i->triggerType = int32_t(d.decodeInt("triggerType").value_or(0));
    i->sessionId = d.contains("sessionId") ? d.value("sessionId")->toDouble().value_or(0) : 0;
    i->sessionOffset = d.decodeInt("sessionOffset").value_or(0);
    i->eventOccuranceId = d.decodeInt("eventOccuranceId").value_or(0);
    i->includesEventTrigger = d.decodeBool("includesEventTrigger").value_or(false);
    return i;
}
}  // namespace

std::shared_ptr<TallyPulseTriggerInvokeInfo> TallyPulseTriggerInvokeInfo::initWithCoder(platform::ArchiveDecoder const& d) {
    auto i = readFields(d);
    if (!i) return nullptr;
    if (auto const* list = d.decodeArray("callbacks"))
        for (auto const& v : *list) {
            auto r = v.objectAs<TallyPulseCallbackReportInfo>();
            if (!r) return nullptr;
            i->callbacks_.push_back(std::move(r));
        }
    return i;
}

std::shared_ptr<TallyPulseTriggerInvokeInfo> TallyPulseTriggerInvokeInfo::initWithDictionary(Value::Dict const& dict) {
    return initWithCoder(platform::ArchiveDecoder(dict));
}

void TallyPulseTriggerInvokeInfo::encodeWith(platform::ArchiveEncoder& e) const {
    for (auto const& [k, v] : dataDictionary()) e.encode(k, v);
    e.encode("includesEventTrigger", includesEventTrigger);
}

Value::Dict TallyPulseTriggerInvokeInfo::dataDictionary() const {
    Value::Dict d;
    d["invokeId"] = invokeId;
    d["triggerType"] = triggerType;
    d["sessionId"] = sessionId;
    d["sessionOffset"] = sessionOffset;
    d["eventOccuranceId"] = eventOccuranceId;
    d["eventName"] = eventName;
    Value::Array list;
    for (auto const& r : callbacks()) list.emplace_back(r);
    d["callbacks"] = std::move(list);
    return d;
}

std::shared_ptr<TallyPulseTriggerInvokeInfo> TallyPulseTriggerInvokeInfo::copy() const {
    auto i = std::make_shared<TallyPulseTriggerInvokeInfo>();
    i->includesEventTrigger = includesEventTrigger;
    i->triggerType = triggerType;
    i->invokeId = invokeId;
    i->sessionId = sessionId;
    i->sessionOffset = sessionOffset;
    i->eventOccuranceId = eventOccuranceId;
    i->eventName = eventName;
    i->callbacks_ = callbacks();
    return i;
}

std::optional<platform::Data> TallyPulseTriggerInvokeInfo::data() {
    platform::Data records;
    uint64_t count = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto const& r : callbacks_) {
            if (!r) return std::nullopt;
            if (auto d = r->data()) {
                records.insert(records.end(), d->begin(), d->end());
                ++count;
            }
        }
    }
    if (count == 0) return std::nullopt;
    platform::Data out;
    TallyProtocolData::appendUshort(uint16_t(triggerType), out);
    TallyProtocolData::appendLong(Value(sessionId).toInt64().value_or(0), out);
    TallyProtocolData::appendLong(sessionOffset, out);
    TallyProtocolData::appendBoolean(true, out);
    TallyProtocolData::appendUshort(uint16_t(eventOccuranceId), out);
    TallyProtocolData::appendString(eventName, out);
    TallyProtocolData::appendUshort(uint16_t(count), out);
    out.insert(out.end(), records.begin(), records.end());
    return out;
}

void TallyPulseTriggerInvokeInfo::setCBAttemptsSent() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto const& r : callbacks_) r->setAttemptsSent();
}

uint64_t TallyPulseTriggerInvokeInfo::removeSentCBAttempts() {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t left = 0;
    std::vector<Report> keep;
    for (auto const& r : callbacks_) {
        uint64_t const n = r->removeSentAttempts();
        left += n;
        if (n > 0) keep.push_back(r);
    }
    callbacks_ = std::move(keep);
    return left;
}

void TallyPulseTriggerInvokeInfo::removeCompletedCallbacks() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(callbacks_, [](Report const& r) { return r->attemptCount() == 0; });
}

std::vector<TallyPulseTriggerInvokeInfo::Report> TallyPulseTriggerInvokeInfo::callbacks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return callbacks_;
}

void TallyPulseTriggerInvokeInfo::setCallbacks(std::vector<Report> callbacks) {
    std::lock_guard<std::mutex> lock(mutex_);
    callbacks_ = std::move(callbacks);
}

void TallyPulseTriggerInvokeInfo::appendCallback(Report report) {
    std::lock_guard<std::mutex> lock(mutex_);
    callbacks_.push_back(std::move(report));
}

uint64_t TallyPulseTriggerInvokeInfo::attemptCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t n = 0;
    for (auto const& r : callbacks_) n += r->attemptCount();
    return n;
}
