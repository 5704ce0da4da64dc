#include "analytics/agent/TallyPulseEventTrigger.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

void TallyPulseEventTrigger::registerArchiveClass() {
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        return initWithCoder(d);
    });
}

std::shared_ptr<TallyPulseEventTrigger> TallyPulseEventTrigger::initWithCoder(platform::ArchiveDecoder const& d) {
    using K = platform::Value::Kind;
    auto name = d.decodeString("eventName");
    if (!name) return nullptr;
    if (d.contains("eventParamName") && !d.value("eventParamName", K::String)) return nullptr;
    auto t = std::make_shared<TallyPulseEventTrigger>();
    t->eventName = *name;
    t->eventParamName = d.decodeString("eventParamName");
    if (d.contains("eventParamValues")) {
        auto const* values = d.decodeArray("eventParamValues");
        if (!values) return nullptr;
        std::vector<std::string> list;
        for (auto const& v : *values) {
            if (!v.string()) return nullptr;
            list.push_back(*v.string());
        }
        t->eventParamValues = std::move(list);
    }
    return t;
}

std::shared_ptr<TallyPulseEventTrigger> TallyPulseEventTrigger::initWithDictionary(platform::Value::Dict const& dict) {
    platform::ArchiveDecoder d(dict);
    auto name = d.decodeString("eventName");
    if (!name) return nullptr;
    auto t = std::make_shared<TallyPulseEventTrigger>();
    t->eventName = *name;
    t->eventParamName = d.decodeString("eventParamName");
    if (auto v = d.decodeString("eventParamValues")) t->eventParamValues = std::vector<std::string>{*v};
    return t;
}

void TallyPulseEventTrigger::encodeWith(platform::ArchiveEncoder& e) const {
    for (auto const& [k, v] : dataDictionary()) e.encode(k, v);
}

platform::Value::Dict TallyPulseEventTrigger::dataDictionary() const {
    platform::Value::Dict d;
    d["eventName"] = eventName;
    if (eventParamName) d["eventParamName"] = *eventParamName;
    if (eventParamValues) {
        platform::Value::Array a;
        for (auto const& v : *eventParamValues) a.emplace_back(v);
        d["eventParamValues"] = std::move(a);
    }
    return d;
}

std::optional<std::string> tallyParameterText(platform::Value const& value) {
    if (auto const* s = value.string()) return *s;
    if (auto b = value.asBool()) return std::string(*b ? "1" : "0");
    if (auto i = value.asInt()) return std::to_string(*i);
    if (auto u = value.asUInt()) return std::to_string(*u);
    if (auto d = value.asDouble()) {
        if (!std::isfinite(*d)) return std::nullopt;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", *d);
        // The shortest text that reads back as the same number.
        for (int precision = 1; precision <= 17; ++precision) {
            std::snprintf(buf, sizeof buf, "%.*g", precision, *d);
            if (std::strtod(buf, nullptr) == *d) break;
        }
        return std::string(buf);
    }
    return std::nullopt;
}

bool TallyPulseEventTrigger::matches(std::string const& name, platform::Value::Dict const& params) const {
    if (name != eventName) return false;
    if (!eventParamName && !eventParamValues) return true;
    if (!eventParamName || !eventParamValues) return false;
    auto it = params.find(*eventParamName);
    if (it == params.end()) return false;
    auto text = tallyParameterText(it->second);
    return text && std::find(eventParamValues->begin(), eventParamValues->end(), *text) != eventParamValues->end();
}

std::string TallyPulseEventTrigger::key() const {
    // Length-prefixed parts, so no name can imitate another split.
    auto part = [](std::string const& s) { return std::to_string(s.size()) + ":" + s; };
    std::string k = part(eventName);
    k += eventParamName ? "P" + part(*eventParamName) : "-";
    if (eventParamValues) {
        std::vector<std::string> set = *eventParamValues;
        std::sort(set.begin(), set.end());
        set.erase(std::unique(set.begin(), set.end()), set.end());
        k += "V";
        for (auto const& v : set) k += part(v);
    } else {
        k += "-";
    }
    return k;
}

size_t TallyPulseEventTrigger::hash() const { return std::hash<std::string>{}(key()); }
