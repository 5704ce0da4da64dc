#include "analytics/delivery/TallyPulseResponse.h"

#include <algorithm>
#include <cmath>

#include "analytics/agent/TallyUtil.h"
#include "analytics/delivery/AvroDatumCheck.h"
#include "analytics/delivery/TallyPulseClock.h"

using platform::Value;

char const* const TallyPulseResponse::kSchemaText = R"({"type":"record","name":"ConfigResponse","namespace":"com.tally.pulse","fields":[
{"name":"issued_at","type":"long"},
{"name":"refresh_ttl","type":"long","default":3600},
{"name":"expiration_ttl","type":"long","default":604800},
{"name":"global_settings","type":{"type":"record","name":"GlobalSettings","fields":[
  {"name":"log_level","type":{"type":"enum","name":"LogLevel","symbols":["DEBUG","ERROR","FATAL","INFO","OFF","TRACE","WARN"]},"default":"OFF"}]}},
{"name":"pulse","aliases":["callbacks"],"type":{"type":"record","name":"Callbacks","fields":[
  {"name":"callbacks","type":{"type":"array","items":{"type":"record","name":"Callback","aliases":["AppTemplate"],"fields":[
    {"name":"partner","type":"string"},
    {"name":"events","type":{"type":"array","items":["string",{"type":"record","name":"EventParameterCallbackTrigger","fields":[
      {"name":"event_name","type":"string"},
      {"name":"event_parameter_name","type":"string"},
      {"name":"event_parameter_values","type":{"type":"array","items":"string"}}]}]}},
    {"name":"method","type":{"type":"enum","name":"RequestMethod","symbols":["GET","PUT","POST"]},"default":"GET"},
    {"name":"uri_template","type":"string"},
    {"name":"body_template","type":["null","string"]},
    {"name":"max_redirects","type":"int","default":5},
    {"name":"connect_timeout","type":"int","default":20},
    {"name":"request_timeout","type":"int","default":20},
    {"name":"callback_id","type":"long"},
    {"name":"headers","type":["null",{"type":"map","values":"string"}],"default":null}]}}},
  {"name":"max_callback_retries","type":"int","default":3},
  {"name":"max_callback_attempts_per_report","type":"int","default":15},
  {"name":"max_report_delay_seconds","type":"long","default":600},
  {"name":"agent_report_url","type":"string","default":"https://data.tally.invalid/pcr.do"}]}},
{"name":"analytics","type":{"type":"record","name":"Analytics","fields":[
  {"name":"analytics_enabled","type":"boolean","default":true},
  {"name":"max_session_properties","type":"int","default":10}]}}]})";

namespace {

// Field readers over a decoded datum; each gives false when the value is not what it reads.
bool field(avro_value_t* record, size_t index, avro_value_t* out) {
    return avro_value_get_by_index(record, index, out, nullptr) == 0;
}

bool readLong(avro_value_t* v, int64_t* out) { return avro_value_get_long(v, out) == 0; }
bool readInt(avro_value_t* v, int32_t* out) { return avro_value_get_int(v, out) == 0; }

bool readString(avro_value_t* v, std::string* out) {
    char const* s = nullptr;
    size_t size = 0;
    if (avro_value_get_string(v, &s, &size) != 0) return false;
    // The size counts the library's terminating NUL.
    out->assign(s ? s : "", size > 0 ? size - 1 : 0);
    return true;
}

bool readEnumSymbol(avro_value_t* v, std::string* out) {
    int symbol = 0;
    if (avro_value_get_enum(v, &symbol) != 0) return false;
    avro_schema_t s = avro_value_get_schema(v);
    char const* name = avro_schema_enum_get(s, symbol);
    if (!name) return false;
    *out = name;
    return true;
}

// The branch of a union and its index.
bool branch(avro_value_t* v, int* index, avro_value_t* out) {
    return avro_value_get_discriminant(v, index) == 0 && avro_value_get_current_branch(v, out) == 0;
}

std::optional<std::string> nonEmpty(std::string s) {
    if (s.empty()) return std::nullopt;
    return s;
}

bool readCallback(avro_value_t* cb, TallyPulseSettings& settings, TallyPulseSettings::Callbacks& callbacks) {
    avro_value_t f;
    auto c = std::make_shared<TallyPulseCallback>();
    std::string partner, symbol, uri;
    if (!field(cb, 0, &f) || !readString(&f, &partner)) return false;
    c->partner = partner;
    if (!field(cb, 2, &f) || !readEnumSymbol(&f, &symbol)) return false;
    c->method = TallyPulseCallback::pulseMethodStringToEnum(symbol);
    if (!field(cb, 3, &f) || !readString(&f, &uri)) return false;
    c->uriTemplate = nonEmpty(uri);
    int index = 0;
    avro_value_t b;
    if (!field(cb, 4, &f) || !branch(&f, &index, &b)) return false;
    if (index == 1) {
        std::string body;
        if (!readString(&b, &body)) return false;
        c->bodyTemplate = nonEmpty(body);
    }
    if (!field(cb, 5, &f) || !readInt(&f, &c->maxRedirects)) return false;
    if (!field(cb, 6, &f) || !readInt(&f, &c->connectTimeout)) return false;
    if (!field(cb, 7, &f) || !readInt(&f, &c->requestTimeout)) return false;
    if (!field(cb, 8, &f) || !readLong(&f, &c->callbackId)) return false;
    if (!field(cb, 9, &f) || !branch(&f, &index, &b)) return false;
    if (index == 1) {
        size_t n = 0;
        if (avro_value_get_size(&b, &n) != 0) return false;
        TallyPulseCallback::Headers headers;
        for (size_t i = 0; i < n; ++i) {
            avro_value_t entry;
            char const* key = nullptr;
            std::string value;
            if (avro_value_get_by_index(&b, i, &entry, &key) != 0 || !key || !readString(&entry, &value)) return false;
            headers[key] = value;
        }
        c->headers = std::move(headers);
    }
    callbacks[c->callbackId] = c;

    avro_value_t events;
    size_t n = 0;
    if (!field(cb, 1, &events) || avro_value_get_size(&events, &n) != 0) return false;
    for (size_t i = 0; i < n; ++i) {
        avro_value_t e, chosen;
        if (avro_value_get_by_index(&events, i, &e, nullptr) != 0 || !branch(&e, &index, &chosen)) return false;
        if (index == 0) {
            std::string name;
            if (!readString(&chosen, &name)) return false;
            settings.addCallbackForEvent(name, c->callbackId);
            continue;
        }
        auto trigger = std::make_shared<TallyPulseEventTrigger>();
        std::string paramName;
        avro_value_t tf, values;
        if (!field(&chosen, 0, &tf) || !readString(&tf, &trigger->eventName)) return false;
        if (!field(&chosen, 1, &tf) || !readString(&tf, &paramName)) return false;
        trigger->eventParamName = paramName;
        size_t vn = 0;
        if (!field(&chosen, 2, &values) || avro_value_get_size(&values, &vn) != 0) return false;
        std::vector<std::string> list;
        for (size_t j = 0; j < vn; ++j) {
            avro_value_t v;
            std::string text;
            if (avro_value_get_by_index(&values, j, &v, nullptr) != 0 || !readString(&v, &text)) return false;
            list.push_back(std::move(text));
        }
        trigger->eventParamValues = std::move(list);
        settings.addCallbackForTrigger(std::move(trigger), c->callbackId);
    }
    return true;
}

bool readSettings(avro_value_t* root, double now, TallyPulseSettings& s) {
    avro_value_t f;
    int64_t refresh = 0, expiration = 0;
    if (!field(root, 0, &f) || !readLong(&f, &s.lastResponseTime)) return false;
    if (!field(root, 1, &f) || !readLong(&f, &refresh)) return false;
    if (!field(root, 2, &f) || !readLong(&f, &expiration)) return false;
    s.nextRefreshTTL = TallyPulseResponse::deadlineMillis(now, refresh);
    s.expirationTTL = TallyPulseResponse::deadlineMillis(now, expiration);

    avro_value_t global, level;
    std::string symbol;
    if (!field(root, 3, &global) || !field(&global, 0, &level) || !readEnumSymbol(&level, &symbol)) return false;
    s.globalSettings = {{"logLevel", Value(symbol)}};

    avro_value_t pulse, list;
    size_t n = 0;
    if (!field(root, 4, &pulse) || !field(&pulse, 0, &list) || avro_value_get_size(&list, &n) != 0) return false;
    TallyPulseSettings::Callbacks callbacks;
    for (size_t i = 0; i < n; ++i) {
        avro_value_t cb;
        if (avro_value_get_by_index(&list, i, &cb, nullptr) != 0 || !readCallback(&cb, s, callbacks)) return false;
    }
    if (!callbacks.empty()) s.callbacks = std::move(callbacks);
    std::string url;
    if (!field(&pulse, 1, &f) || !readInt(&f, &s.maxCallbackRetries)) return false;
    if (!field(&pulse, 2, &f) || !readInt(&f, &s.maxCallbackAttemptsPerReport)) return false;
    if (!field(&pulse, 3, &f) || !readLong(&f, &s.maxReportDelaySecs)) return false;
    if (!field(&pulse, 4, &f) || !readString(&f, &url)) return false;
    s.agentReportUrl = nonEmpty(url);

    avro_value_t analytics;
    int enabled = 0;
    int32_t maxProperties = 0;
    if (!field(root, 5, &analytics)) return false;
    if (!field(&analytics, 0, &f) || avro_value_get_boolean(&f, &enabled) != 0) return false;
    if (!field(&analytics, 1, &f) || !readInt(&f, &maxProperties)) return false;
    s.setAnalytics({{"analytics_enabled", Value(enabled != 0)}, {"max_session_properties", Value(maxProperties)}});
    return true;
}

}  // namespace

TallyPulseResponse::~TallyPulseResponse() {
    if (pulseResponseSchema_) avro_schema_decref(pulseResponseSchema_);
}

void TallyPulseResponse::initSchema() {
    if (pulseResponseSchema_) return;
    std::string const text = kSchemaText;
    if (avro_schema_from_json_length(text.data(), text.size(), &pulseResponseSchema_) != 0) {
        pulseResponseSchema_ = nullptr;
        TallyUtil::log(2, "Unable to parse pulse response schema");
        return;
    }
    TallyUtil::log(2, "Successfully parsed a pulse response schema");
}

int64_t TallyPulseResponse::deadlineMillis(double nowSeconds, int64_t ttlSeconds) {
    int64_t const ttl = std::clamp<int64_t>(ttlSeconds, 0, kMaxTtlSeconds);
    return Value((nowSeconds + double(ttl)) * 1000.0).toInt64().value_or(0);
}

std::shared_ptr<TallyPulseSettings> TallyPulseResponse::parsePulseResponse(platform::Data const& body) {
    return parsePulseResponse(body, TallyPulseClock::now());
}

std::shared_ptr<TallyPulseSettings> TallyPulseResponse::parsePulseResponse(platform::Data const& body, double now) {
    initSchema();
    if (!pulseResponseSchema_ || body.empty() || body.size() > kMaxBodySize) return nullptr;
    if (!avroDatumFits(pulseResponseSchema_, body.data(), body.size())) return nullptr;

    avro_value_iface_t* iface = avro_generic_class_from_schema(pulseResponseSchema_);
    if (!iface) return nullptr;
    avro_value_t value;
    if (avro_generic_value_new(iface, &value) != 0) {
        avro_value_iface_decref(iface);
        return nullptr;
    }
    avro_reader_t reader = avro_reader_memory(reinterpret_cast<char const*>(body.data()), int64_t(body.size()));
    std::shared_ptr<TallyPulseSettings> settings;
    if (reader && avro_value_read(reader, &value) == 0) {
        settings = std::make_shared<TallyPulseSettings>();
        if (!readSettings(&value, now, *settings)) settings.reset();
    }
    if (reader) avro_reader_free(reader);
    avro_value_decref(&value);
    avro_value_iface_decref(iface);
    return settings;
}
