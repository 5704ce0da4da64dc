#include "analytics/agent/TallyPulseAppTemplate.h"

#include "analytics/agent/TallyPulseCallback.h"

std::string TallyPulseAppTemplate::pulseMethodEnumToString(int32_t code) {
    return TallyPulseCallback::pulseMethodEnumToString(code);
}

int32_t TallyPulseAppTemplate::pulseMethodStringToEnum(std::optional<std::string> const& name) {
    return TallyPulseCallback::pulseMethodStringToEnum(name);
}

void TallyPulseAppTemplate::registerArchiveClass() {
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        return initWithCoder(d);
    });
}

namespace {
std::shared_ptr<TallyPulseAppTemplate> readCommon(platform::ArchiveDecoder const& d) {
    using K = platform::Value::Kind;
    for (char const* key : {"partner", "uriTemplate", "bodyTemplate"})
        if (d.contains(key) && !d.value(key, K::String)) return nullptr;
    for (char const* key : {"method", "maxRedirects", "connectTimeout", "requestTimeout"})
        if (d.contains(key) && !d.decodeInt(key)) return nullptr;
    auto t = std::make_shared<TallyPulseAppTemplate>();
    t->partner = d.decodeString("partner");
    t->method = int32_t(d.decodeInt("method").value_or(0));
    t->uriTemplate = d.decodeString("uriTemplate");
    t->bodyTemplate = d.decodeString("bodyTemplate");
    t->maxRedirects = int32_t(d.decodeInt("maxRedirects").value_or(0));
    t->connectTimeout = int32_t(d.decodeInt("connectTimeout").value_or(0));
    t->requestTimeout = int32_t(d.decodeInt("requestTimeout").value_or(0));
    return t;
}
}  // namespace

std::shared_ptr<TallyPulseAppTemplate> TallyPulseAppTemplate::initWithCoder(platform::ArchiveDecoder const& d) {
    if (d.contains("events") && !d.decodeArray("events")) return nullptr;
    auto t = readCommon(d);
    if (t && d.decodeArray("events")) t->events = *d.decodeArray("events");
    return t;
}

std::shared_ptr<TallyPulseAppTemplate> TallyPulseAppTemplate::initWithDictionary(platform::Value::Dict const& dict) {
    platform::ArchiveDecoder d(dict);
    auto t = readCommon(d);
    if (t && d.contains("events")) t->events = platform::Value::Array{*d.value("events")};
    return t;
}

void TallyPulseAppTemplate::encodeWith(platform::ArchiveEncoder& e) const {
    for (auto const& [k, v] : dataDictionary()) e.encode(k, v);
}

platform::Value::Dict TallyPulseAppTemplate::dataDictionary() const {
    platform::Value::Dict d;
    if (partner) d["partner"] = *partner;
    if (events) d["events"] = *events;
    if (uriTemplate) d["uriTemplate"] = *uriTemplate;
    if (bodyTemplate) d["bodyTemplate"] = *bodyTemplate;
    d["method"] = method;
    d["maxRedirects"] = maxRedirects;
    d["connectTimeout"] = connectTimeout;
    d["requestTimeout"] = requestTimeout;
    return d;
}
