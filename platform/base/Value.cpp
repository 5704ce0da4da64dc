#include "platform/base/Value.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>

namespace platform {

Date Date::now() {
    auto const t = std::chrono::system_clock::now().time_since_epoch();
    return Date{std::chrono::duration<double>(t).count()};
}

int64_t Date::milliseconds() const {
    double const ms = secondsSince1970 * 1000.0;
    if (!(ms == ms)) return 0;
    if (ms >= 9.2e18) return INT64_MAX;
    if (ms <= -9.2e18) return INT64_MIN;
    return static_cast<int64_t>(ms);
}

Value::Value(std::shared_ptr<Archivable> v) {
    if (v) v_ = std::move(v);
}

bool Value::isNumber() const {
    switch (kind()) {
        case Kind::Bool:
        case Kind::Int:
        case Kind::UInt:
        case Kind::Float:
        case Kind::Double:
            return true;
        default:
            return false;
    }
}

std::optional<bool> Value::asBool() const {
    if (auto p = std::get_if<bool>(&v_)) return *p;
    return std::nullopt;
}

std::optional<int64_t> Value::asInt() const {
    if (auto p = std::get_if<int64_t>(&v_)) return *p;
    return std::nullopt;
}

std::optional<uint64_t> Value::asUInt() const {
    if (auto p = std::get_if<uint64_t>(&v_)) return *p;
    return std::nullopt;
}

std::optional<double> Value::asDouble() const {
    if (auto p = std::get_if<double>(&v_)) return *p;
    if (auto p = std::get_if<float>(&v_)) return *p;
    return std::nullopt;
}

std::optional<Date> Value::date() const {
    if (auto p = std::get_if<Date>(&v_)) return *p;
    return std::nullopt;
}

Value::Dict const* Value::dict() const {
    auto p = std::get_if<Boxed<Dict>>(&v_);
    return p ? &**p : nullptr;
}

Value::Dict* Value::dict() {
    auto p = std::get_if<Boxed<Dict>>(&v_);
    return p ? &**p : nullptr;
}

Value::Map const* Value::map() const {
    auto p = std::get_if<Boxed<Map>>(&v_);
    return p ? &**p : nullptr;
}

Value::Map* Value::map() {
    auto p = std::get_if<Boxed<Map>>(&v_);
    return p ? &**p : nullptr;
}

std::shared_ptr<Archivable> Value::object() const {
    if (auto p = std::get_if<std::shared_ptr<Archivable>>(&v_)) return *p;
    return nullptr;
}

std::optional<int64_t> Value::toInt64() const {
    switch (kind()) {
        case Kind::Bool:
            return *asBool() ? 1 : 0;
        case Kind::Int:
            return *asInt();
        case Kind::UInt:
            return static_cast<int64_t>(*asUInt());
        case Kind::Float:
        case Kind::Double: {
            double const d = *asDouble();
            if (std::isnan(d)) return 0;
            if (d >= 9223372036854775807.0) return INT64_MAX;
            if (d <= -9223372036854775808.0) return INT64_MIN;
            return static_cast<int64_t>(d);
        }
        default:
            return std::nullopt;
    }
}

std::optional<double> Value::toDouble() const {
    switch (kind()) {
        case Kind::Bool:
            return *asBool() ? 1.0 : 0.0;
        case Kind::Int:
            return static_cast<double>(*asInt());
        case Kind::UInt:
            return static_cast<double>(*asUInt());
        case Kind::Float:
        case Kind::Double:
            return *asDouble();
        default:
            return std::nullopt;
    }
}

std::optional<bool> Value::toBool() const {
    switch (kind()) {
        case Kind::Bool:
            return *asBool();
        case Kind::Int:
            return *asInt() != 0;
        case Kind::UInt:
            return *asUInt() != 0;
        case Kind::Float:
        case Kind::Double:
            return *asDouble() != 0.0;
        default:
            return std::nullopt;
    }
}

Value const* Value::find(std::string const& key) const {
    Dict const* d = dict();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

namespace {

std::strong_ordering compareDoubles(double a, double b) {
    // NaN sorts after every number and equals itself, so the order stays total.
    bool const an = std::isnan(a), bn = std::isnan(b);
    if (an || bn) return an == bn ? std::strong_ordering::equal : (an ? std::strong_ordering::greater : std::strong_ordering::less);
    if (a < b) return std::strong_ordering::less;
    if (a > b) return std::strong_ordering::greater;
    return std::strong_ordering::equal;
}

template <class C>
std::strong_ordering compareRanges(C const& a, C const& b) {
    return std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

std::strong_ordering Value::operator<=>(Value const& o) const {
    if (auto c = v_.index() <=> o.v_.index(); c != 0) return c;
    switch (kind()) {
        case Kind::Null:
            return std::strong_ordering::equal;
        case Kind::Bool:
            return *asBool() <=> *o.asBool();
        case Kind::Int:
            return *asInt() <=> *o.asInt();
        case Kind::UInt:
            return *asUInt() <=> *o.asUInt();
        case Kind::Float:
        case Kind::Double:
            return compareDoubles(*asDouble(), *o.asDouble());
        case Kind::String:
            return *string() <=> *o.string();
        case Kind::Data:
            return compareRanges(*data(), *o.data());
        case Kind::Date:
            return compareDoubles(date()->secondsSince1970, o.date()->secondsSince1970);
        case Kind::Array:
            return compareRanges(*array(), *o.array());
        case Kind::Dict:
            return compareRanges(*dict(), *o.dict());
        case Kind::Map:
            return compareRanges(*map(), *o.map());
        case Kind::Object:
            return std::compare_three_way{}(object().get(), o.object().get());
    }
    return std::strong_ordering::equal;
}

std::string Value::describe() const {
    switch (kind()) {
        case Kind::Null:
            return "(null)";
        case Kind::Bool:
            return *asBool() ? "1" : "0";
        case Kind::Int:
            return std::to_string(*asInt());
        case Kind::UInt:
            return std::to_string(*asUInt());
        case Kind::Float:
        case Kind::Double: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%g", *asDouble());
            return buf;
        }
        case Kind::String:
            return *string();
        case Kind::Data: {
            std::string s = "<";
            char buf[4];
            for (size_t i = 0; i < data()->size(); ++i) {
                if (i && i % 4 == 0) s += ' ';
                std::snprintf(buf, sizeof buf, "%02x", (*data())[i]);
                s += buf;
            }
            return s + ">";
        }
        case Kind::Date: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.3f", date()->secondsSince1970);
            return buf;
        }
        case Kind::Array: {
            std::string s = "(";
            for (size_t i = 0; i < array()->size(); ++i) s += (i ? ", " : "") + (*array())[i].describe();
            return s + ")";
        }
        case Kind::Dict: {
            std::string s = "{";
            bool first = true;
            for (auto const& [k, v] : *dict()) {
                s += (first ? "" : "; ") + k + " = " + v.describe();
                first = false;
            }
            return s + "}";
        }
        case Kind::Map: {
            std::string s = "{";
            bool first = true;
            for (auto const& [k, v] : *map()) {
                s += (first ? "" : "; ") + k.describe() + " = " + v.describe();
                first = false;
            }
            return s + "}";
        }
        case Kind::Object:
            return "<" + object()->className() + ">";
    }
    return {};
}

std::string Error::description() const {
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " UserInfo=" + Value(userInfo).describe();
}

}  // namespace platform
