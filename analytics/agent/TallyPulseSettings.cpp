#include "analytics/agent/TallyPulseSettings.h"

#include <algorithm>
#include <unordered_set>

#include "analytics/agent/TallyPulseAppTemplate.h"

using platform::Value;

void TallyPulseSettings::registerArchiveClass() {
    TallyPulseCallback::registerArchiveClass();
    TallyPulseAppTemplate::registerArchiveClass();
    TallyPulseEventTrigger::registerArchiveClass();
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        return initWithCoder(d);
    });
}

namespace {

Value eventsMapValue(TallyPulseSettings::EventsMap const& map) {
    Value::Array out;
    for (auto const& e : map) {
        Value::Array ids;
        for (int64_t id : e.callbackIds) ids.emplace_back(id);
        Value key = e.trigger ? Value(e.trigger) : Value(e.eventName.value_or(""));
        out.emplace_back(Value::Array{std::move(key), Value(std::move(ids))});
    }
    return out;
}

std::optional<TallyPulseSettings::EventsMap> eventsMapFrom(Value const& v) {
    auto const* a = v.array();
    if (!a) return std::nullopt;
    TallyPulseSettings::EventsMap map;
    for (auto const& pair : *a) {
        auto const* p = pair.array();
        if (!p || p->size() != 2 || !(*p)[1].array()) return std::nullopt;
        TallyPulseSettings::EventEntry e;
        if (auto const* s = (*p)[0].string()) e.eventName = *s;
        else if (auto t = (*p)[0].objectAs<TallyPulseEventTrigger>()) e.trigger = t;
        else return std::nullopt;
        for (auto const& id : *(*p)[1].array()) {
            auto n = id.asInt();
            if (!n) return std::nullopt;
            e.callbackIds.push_back(*n);
        }
        map.push_back(std::move(e));
    }
    return map;
}

// Callbacks keyed by id; the values either objects or their dictionary form.
std::optional<TallyPulseSettings::Callbacks> callbacksFrom(Value const& v, bool dictionaries) {
    auto const* m = v.map();
    if (!m) return std::nullopt;
    TallyPulseSettings::Callbacks out;
    for (auto const& [k, cb] : *m) {
        auto id = k.asInt();
        if (!id) return std::nullopt;
        std::shared_ptr<TallyPulseCallback> c;
        if (dictionaries) {
            if (auto const* d = cb.dict()) c = TallyPulseCallback::initWithDictionary(*d);
        } else {
            c = cb.objectAs<TallyPulseCallback>();
        }
        if (!c) return std::nullopt;
        out[*id] = std::move(c);
    }
    return out;
}

std::shared_ptr<TallyPulseSettings> readSettings(platform::ArchiveDecoder const& d, bool dictionaries) {
    using K = Value::Kind;
    for (char const* key : {"lastResponseTime", "nextRefreshTTL", "expirationTTL", "maxCallbackRetries",
                            "maxCallbackAttemptsPerReport", "maxReportDelaySecs"})
        if (d.contains(key) && !d.decodeInt(key)) return nullptr;
    if (d.contains("agentReportUrl") && !d.value("agentReportUrl", K::String)) return nullptr;
    for (char const* key : {"globalSettings", "analytics"})
        if (d.contains(key) && !d.decodeDict(key)) return nullptr;
    auto s = std::make_shared<TallyPulseSettings>();
    s->lastResponseTime = d.decodeInt("lastResponseTime").value_or(0);
    s->nextRefreshTTL = d.decodeInt("nextRefreshTTL").value_or(0);
    s->expirationTTL = d.decodeInt("expirationTTL").value_or(0);
    s->maxCallbackRetries = int32_t(d.decodeInt("maxCallbackRetries").value_or(0));
    s->maxCallbackAttemptsPerReport = int32_t(d.decodeInt("maxCallbackAttemptsPerReport").value_or(0));
    s->maxReportDelaySecs = d.decodeInt("maxReportDelaySecs").value_or(0);
    s->agentReportUrl = d.decodeString("agentReportUrl");
    if (auto const* v = d.value("callbacks")) {
        s->callbacks = callbacksFrom(*v, dictionaries);
        if (!s->callbacks) return nullptr;
    }
    if (auto const* v = d.value("callbackEventsMap")) {
        auto map = eventsMapFrom(*v);
        if (!map) return nullptr;
        s->setCallbackEventsMap(std::move(map));
    }
    Value::Dict global, analytics;
    if (auto const* g = d.decodeDict("globalSettings")) global = *g;
    if (auto const* a = d.decodeDict("analytics")) analytics = *a;
    if (dictionaries) {
        Value::Dict g2, a2;
        if (auto it = global.find("log_level"); it != global.end()) g2["log_level"] = it->second;
        for (char const* key : {"analytics_enabled", "max_session_properties"})
            if (auto it = analytics.find(key); it != analytics.end()) a2[key] = it->second;
        global = std::move(g2);
        analytics = std::move(a2);
    }
    s->globalSettings = std::move(global);
    s->setAnalytics(std::move(analytics));
    return s;
}

}  // namespace

std::shared_ptr<TallyPulseSettings> TallyPulseSettings::initWithCoder(platform::ArchiveDecoder const& d) {
    return readSettings(d, false);
}

std::shared_ptr<TallyPulseSettings> TallyPulseSettings::initWithDictionary(Value::Dict const& dict) {
    return readSettings(platform::ArchiveDecoder(dict), true);
}

void TallyPulseSettings::encodeWith(platform::ArchiveEncoder& e) const {
    e.encode("lastResponseTime", lastResponseTime);
    e.encode("nextRefreshTTL", nextRefreshTTL);
    e.encode("expirationTTL", expirationTTL);
    if (callbacks) {
        Value::Map m;
        for (auto const& [id, cb] : *callbacks) m[Value(id)] = Value(cb);
        e.encode("callbacks", Value(std::move(m)));
    }
    if (callbackEventsMap_) e.encode("callbackEventsMap", eventsMapValue(*callbackEventsMap_));
    e.encode("maxCallbackRetries", int64_t(maxCallbackRetries));
    e.encode("maxCallbackAttemptsPerReport", int64_t(maxCallbackAttemptsPerReport));
    e.encode("maxReportDelaySecs", maxReportDelaySecs);
    if (agentReportUrl) e.encode("agentReportUrl", *agentReportUrl);
    e.encode("globalSettings", globalSettings);
    e.encode("analytics", analytics());
}

Value::Dict TallyPulseSettings::dataDictionary() const {
    platform::ArchiveEncoder e;
    encodeWith(e);
    Value::Dict d = e.fields();
    if (callbacks) {
        Value::Map m;
        for (auto const& [id, cb] : *callbacks) m[Value(id)] = Value(cb->dataDictionary());
        d["callbacks"] = Value(std::move(m));
    }
    return d;
}

void TallyPulseSettings::setCallbackEventsMap(std::optional<EventsMap> map) {
    callbackEventsMap_ = std::move(map);
    keysByName_.clear();
    if (!callbackEventsMap_) return;
    for (size_t i = 0; i < callbackEventsMap_->size(); ++i) {
        auto const& e = (*callbackEventsMap_)[i];
        keysByName_[e.trigger ? e.trigger->eventName : e.eventName.value_or("")].push_back(i);
    }
}

void TallyPulseSettings::addCallbackForEvent(std::string const& eventName, int64_t callbackId) {
    if (!callbackEventsMap_) callbackEventsMap_.emplace();
    auto& keys = keysByName_[eventName];
    for (size_t i : keys) {
        auto& e = (*callbackEventsMap_)[i];
        if (!e.trigger) {
            e.callbackIds.push_back(callbackId);
            return;
        }
    }
    keys.push_back(callbackEventsMap_->size());
    callbackEventsMap_->push_back({eventName, nullptr, {callbackId}});
}

void TallyPulseSettings::addCallbackForTrigger(std::shared_ptr<TallyPulseEventTrigger> trigger, int64_t callbackId) {
    if (!trigger) return;
    if (!callbackEventsMap_) callbackEventsMap_.emplace();
    auto& keys = keysByName_[trigger->eventName];
    for (size_t i : keys) {
        auto& e = (*callbackEventsMap_)[i];
        if (e.trigger && *e.trigger == *trigger) {
            e.callbackIds.push_back(callbackId);
            return;
        }
    }
    keys.push_back(callbackEventsMap_->size());
    callbackEventsMap_->push_back({std::nullopt, std::move(trigger), {callbackId}});
}

std::optional<std::vector<int64_t>> TallyPulseSettings::callbackIdsForEvent(std::string const& eventName,
                                                                           Value::Dict const& params) const {
    if (!callbackEventsMap_) return std::nullopt;
    auto const keys = keysByName_.find(eventName);
    if (keys == keysByName_.end()) return std::nullopt;
    // The last matching key decides alone: a configuration lists under a trigger every callback
    // that trigger fires, so a more specific key can leave the name's own callbacks out.
    EventEntry const* last = nullptr;
    for (size_t i : keys->second) {
        auto const& e = (*callbackEventsMap_)[i];
        if (e.trigger ? e.trigger->matches(eventName, params) : e.eventName == eventName) last = &e;
    }
    if (!last) return std::nullopt;
    // An id listed twice for one event would fire the partner twice for one occurrence.
    std::vector<int64_t> ids;
    std::unordered_set<int64_t> seen;
    for (int64_t id : last->callbackIds)
        if (seen.insert(id).second) ids.push_back(id);
    return ids;
}

Value::Dict TallyPulseSettings::analytics() const {
    std::lock_guard<std::mutex> lock(analyticsMutex_);
    return analytics_;
}

void TallyPulseSettings::setAnalytics(Value::Dict analytics) {
    std::lock_guard<std::mutex> lock(analyticsMutex_);
    analytics_ = std::move(analytics);
}

bool TallyPulseSettings::analyticsEnabled() const {
    auto a = analytics();
    auto it = a.find("analytics_enabled");
    // Only an explicit false switches analytics off.
    return it == a.end() || it->second.toBool().value_or(true);
}
