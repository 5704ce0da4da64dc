#pragma once
// A dynamically typed value as the phone's frameworks hand them around: numbers keep whether they
// were a bool, an integer or a real, dictionaries are sorted by key, and archivable objects are
// held by shared pointer.
#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace platform {

class Value;
class ArchiveEncoder;

// An object that the keyed archive can store: it names its class (the archive's registry maps
// the name back to a factory) and writes its fields under keys.
class Archivable {
public:
    virtual ~Archivable() = default;
    virtual std::string className() const = 0;
    virtual void encodeWith(ArchiveEncoder& encoder) const = 0;
};

using Data = std::vector<uint8_t>;

// A point in time, seconds since 1970 (fractions kept).
struct Date {
    double secondsSince1970 = 0;
    static Date now();
    int64_t milliseconds() const;
    auto operator<=>(Date const&) const = default;
};

// Deep-copying box so that the containers can hold values of their own type.
template <class T>
class Boxed {
public:
    Boxed() : p_(std::make_unique<T>()) {}
    Boxed(T v) : p_(std::make_unique<T>(std::move(v))) {}
    Boxed(Boxed const& o) : p_(std::make_unique<T>(*o.p_)) {}
    Boxed(Boxed&&) noexcept = default;
    Boxed& operator=(Boxed const& o) {
        if (this != &o) p_ = std::make_unique<T>(*o.p_);
        return *this;
    }
    Boxed& operator=(Boxed&&) noexcept = default;
    T& operator*() { return *p_; }
    T const& operator*() const { return *p_; }
    T* operator->() { return p_.get(); }
    T const* operator->() const { return p_.get(); }

private:
    std::unique_ptr<T> p_;
};

class Value {
public:
    enum class Kind { Null, Bool, Int, UInt, Float, Double, String, Data, Date, Array, Dict, Map, Object };
    using Array = std::vector<Value>;
    using Dict = std::map<std::string, Value>;
    using Map = std::map<Value, Value>;

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool v) : v_(v) {}
    Value(int v) : v_(int64_t(v)) {}
    Value(long v) : v_(int64_t(v)) {}
    Value(long long v) : v_(int64_t(v)) {}
    Value(unsigned v) : v_(uint64_t(v)) {}
    Value(unsigned long v) : v_(uint64_t(v)) {}
    Value(unsigned long long v) : v_(uint64_t(v)) {}
    Value(float v) : v_(v) {}
    Value(double v) : v_(v) {}
    Value(char const* v) : v_(std::string(v ? v : "")) {}
    Value(std::string v) : v_(std::move(v)) {}
    Value(platform::Data v) : v_(std::move(v)) {}
    Value(platform::Date v) : v_(v) {}
    Value(Array v) : v_(std::move(v)) {}
    Value(Dict v) : v_(Boxed<Dict>(std::move(v))) {}
    Value(Map v) : v_(Boxed<Map>(std::move(v))) {}
    Value(std::shared_ptr<Archivable> v);
    template <class T>
        requires std::is_base_of_v<Archivable, T>
    Value(std::shared_ptr<T> v) : Value(std::shared_ptr<Archivable>(std::move(v))) {}

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool isNull() const { return kind() == Kind::Null; }
    bool isNumber() const;

    // Exact kinds: nothing when the value is of another kind.
    std::optional<bool> asBool() const;
    std::optional<int64_t> asInt() const;
    std::optional<uint64_t> asUInt() const;
    std::optional<double> asDouble() const;  // Float or Double
    std::string const* string() const { return std::get_if<std::string>(&v_); }
    platform::Data const* data() const { return std::get_if<platform::Data>(&v_); }
    std::optional<platform::Date> date() const;
    Array const* array() const { return std::get_if<Array>(&v_); }
    Array* array() { return std::get_if<Array>(&v_); }
    Dict const* dict() const;
    Dict* dict();
    Map const* map() const;
    Map* map();
    std::shared_ptr<Archivable> object() const;
    template <class T>
    std::shared_ptr<T> objectAs() const {
        return std::dynamic_pointer_cast<T>(object());
    }

    // Any number read as another number type, as the phone's number class converts them
    // (reals truncated toward zero and saturated); nothing for a value that is not a number.
    std::optional<int64_t> toInt64() const;
    std::optional<double> toDouble() const;
    std::optional<bool> toBool() const;  // any non-zero number is true

    // Dictionary lookup; nothing for a missing key or a value that is not a dictionary.
    Value const* find(std::string const& key) const;

    // Total order across kinds (kind first), so values can key a map; objects by address.
    std::strong_ordering operator<=>(Value const& o) const;
    bool operator==(Value const& o) const { return (*this <=> o) == 0; }

    // Short readable text for log lines.
    std::string describe() const;

private:
    std::variant<std::monostate, bool, int64_t, uint64_t, float, double, std::string, platform::Data, platform::Date,
                 Array, Boxed<Dict>, Boxed<Map>, std::shared_ptr<Archivable>>
        v_;
};

// An error as the phone's frameworks report them: a domain, a code and a user-info dictionary.
struct Error {
    std::string domain;
    int64_t code = 0;
    Value::Dict userInfo;
    std::string description() const;
};

}  // namespace platform
