#include "analytics/agent/TallyPulseCallback.h"

#include <array>

namespace {
std::array<char const*, 3> const kMethods = {"GET", "PUT", "POST"};

bool wrongKind(platform::ArchiveDecoder const& d, char const* key, platform::Value::Kind kind) {
    return d.contains(key) && !d.value(key, kind);
}
}  // namespace

platform::Value::Dict tallyHeadersToDict(TallyPulseCallback::Headers const& headers) {
    platform::Value::Dict d;
    for (auto const& [k, v] : headers) d[k] = platform::Value(v);
    return d;
}

std::optional<TallyPulseCallback::Headers> tallyHeadersFromDict(platform::Value::Dict const& dict) {
    TallyPulseCallback::Headers h;
    for (auto const& [k, v] : dict) {
        if (!v.string()) return std::nullopt;
        h[k] = *v.string();
    }
    return h;
}

std::string TallyPulseCallback::pulseMethodEnumToString(int32_t code) {
    return code >= 0 && code < int32_t(kMethods.size()) ? kMethods[size_t(code)] : kMethods[0];
}

int32_t TallyPulseCallback::pulseMethodStringToEnum(std::optional<std::string> const& name) {
    if (!name) return 0;
    for (size_t i = 0; i < kMethods.size(); ++i)
        if (*name == kMethods[i]) return int32_t(i);
    return 0;
}

void TallyPulseCallback::registerArchiveClass() {
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        return initWithCoder(d);
    });
}

std::shared_ptr<TallyPulseCallback> TallyPulseCallback::initWithCoder(platform::ArchiveDecoder const& d) {
    using K = platform::Value::Kind;
    for (char const* key : {"partner", "uriTemplate", "bodyTemplate"})
        if (wrongKind(d, key, K::String)) return nullptr;
    if (wrongKind(d, "headers", K::Dict)) return nullptr;
    for (char const* key : {"method", "callbackId", "maxRedirects", "connectTimeout", "requestTimeout"})
        if (d.contains(key) && !d.decodeInt(key)) return nullptr;
    auto c = std::make_shared<TallyPulseCallback>();
    c->partner = d.decodeString("partner");
    c->method = int32_t(d.decodeInt("method").value_or(0));
    c->callbackId = d.decodeInt("callbackId").value_or(0);
    c->uriTemplate = d.decodeString("uriTemplate");
    c->bodyTemplate = d.decodeString("bodyTemplate");
    if (auto const* h = d.decodeDict("headers")) {
        c->headers = tallyHeadersFromDict(*h);
        if (!c->headers) return nullptr;
    }
    c->maxRedirects = int32_t(d.decodeInt("maxRedirects").value_or(0));
    c->connectTimeout = int32_t(d.decodeInt("connectTimeout").value_or(0));
    c->requestTimeout = int32_t(d.decodeInt("requestTimeout").value_or(0));
    return c;
}

void TallyPulseCallback::encodeWith(platform::ArchiveEncoder& e) const {
    for (auto const& [k, v] : dataDictionary()) e.encode(k, v);
}

platform::Value::Dict TallyPulseCallback::dataDictionary() const {
    platform::Value::Dict d;
    if (partner) d["partner"] = *partner;
    if (uriTemplate) d["uriTemplate"] = *uriTemplate;
    if (bodyTemplate) d["bodyTemplate"] = *bodyTemplate;
    if (headers) d["headers"] = tallyHeadersToDict(*headers);
    d["method"] = int64_t(method);
    d["callbackId"] = callbackId;
    d["maxRedirects"] = maxRedirects;
    d["connectTimeout"] = connectTimeout;
    d["requestTimeout"] = requestTimeout;
    return d;
}

std::shared_ptr<TallyPulseCallback> TallyPulseCallback::initWithDictionary(platform::Value::Dict const& dict) {
    return initWithCoder(platform::ArchiveDecoder(dict));
}
