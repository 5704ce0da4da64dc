#include "platform/base/KeyedArchive.h"

#include <jansson.h>
#include <openssl/evp.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>

#include "platform/base/AtomicFile.h"

namespace platform {
namespace {

// Each value is a JSON array whose first element is its kind:
//   ["n"] null, ["b", bool], ["i", int], ["u", int or decimal text above int64],
//   ["f", real or "nan"/"inf"/"-inf"] float, ["d", ...] double, ["t", ...] date,
//   ["s", text], ["S", base64] text that is not UTF-8, ["x", base64] data,
//   ["a", [values]], ["o", {key: value}], ["O", [key, value, ...]] a dictionary whose keys are not
//   all UTF-8 without NUL (keys as values), ["m", [key, value, ...]] any-keyed map,
//   ["c", class name, ["o", fields]] an object.

struct JsonRef {
    json_t* p;
    explicit JsonRef(json_t* j) : p(j) {}
    ~JsonRef() { json_decref(p); }
    JsonRef(JsonRef const&) = delete;
    JsonRef& operator=(JsonRef const&) = delete;
};

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, KeyedArchive::Factory>& registry() {
    // Never destroyed: the agent's threads decode archives until the process is gone.
    static auto* r = new std::map<std::string, KeyedArchive::Factory>;
    return *r;
}

std::string toBase64(uint8_t const* bytes, size_t size) {
    std::string out;
    if (size == 0) return out;
    // EVP_EncodeBlock takes an int length; archives stay far below that, chunk anyway.
    size_t constexpr chunk = 3 * (1 << 20);
    for (size_t at = 0; at < size; at += chunk) {
        size_t const n = std::min(chunk, size - at);
        std::string part(4 * ((n + 2) / 3) + 1, '\0');
        int const written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(part.data()), bytes + at, static_cast<int>(n));
        part.resize(static_cast<size_t>(written));
        out += part;
    }
    return out;
}

std::optional<Data> fromBase64(char const* text, size_t length) {
    Data out;
    if (length == 0) return out;
    if (length % 4 != 0) return std::nullopt;
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '\0' || std::isspace(static_cast<unsigned char>(text[i]))) return std::nullopt;
    size_t constexpr chunk = 4 * (1 << 20);
    for (size_t at = 0; at < length; at += chunk) {
        size_t const n = std::min(chunk, length - at);
        size_t pad = 0;
        if (at + n == length) {
            if (text[length - 1] == '=') ++pad;
            if (text[length - 2] == '=') ++pad;
        }
        size_t const start = out.size();
        out.resize(start + 3 * n / 4);
        int const got = EVP_DecodeBlock(out.data() + start, reinterpret_cast<unsigned char const*>(text + at), static_cast<int>(n));
        if (got < 0 || static_cast<size_t>(got) != 3 * n / 4) return std::nullopt;
        out.resize(out.size() - pad);
    }
    return out;
}

json_t* tagged(char const* tag, json_t* payload) {
    json_t* a = json_array();
    json_array_append_new(a, json_string(tag));
    if (payload) json_array_append_new(a, payload);
    return a;
}

json_t* encodeReal(char const* tag, double d) {
    if (std::isnan(d)) return tagged(tag, json_string("nan"));
    if (std::isinf(d)) return tagged(tag, json_string(d > 0 ? "inf" : "-inf"));
    return tagged(tag, json_real(d));
}

json_t* encodeValue(Value const& v);

json_t* encodePairs(Value::Dict const& d) {
    json_t* pairs = json_array();
    for (auto const& [k, v] : d) {
        json_array_append_new(pairs, encodeValue(Value(k)));
        json_array_append_new(pairs, encodeValue(v));
    }
    return tagged("O", pairs);
}

json_t* encodeDict(Value::Dict const& d) {
    json_t* o = json_object();
    for (auto const& [k, v] : d) {
        // The JSON reader takes no NUL in an object key, though the writer would write one.
        if (k.find('\0') != std::string::npos || json_object_setn_new(o, k.data(), k.size(), encodeValue(v)) != 0) {
            json_decref(o);
            return encodePairs(d);
        }
    }
    return tagged("o", o);
}

json_t* encodeValue(Value const& v) {
    using K = Value::Kind;
    switch (v.kind()) {
        case K::Null:
            return tagged("n", nullptr);
        case K::Bool:
            return tagged("b", json_boolean(*v.asBool()));
        case K::Int:
            return tagged("i", json_integer(*v.asInt()));
        case K::UInt: {
            uint64_t const u = *v.asUInt();
            if (u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
                return tagged("u", json_integer(static_cast<json_int_t>(u)));
            return tagged("u", json_string(std::to_string(u).c_str()));
        }
        case K::Float:
            return encodeReal("f", *v.asDouble());
        case K::Double:
            return encodeReal("d", *v.asDouble());
        case K::Date:
            return encodeReal("t", v.date()->secondsSince1970);
        case K::String: {
            std::string const& s = *v.string();
            if (json_t* j = json_stringn(s.data(), s.size())) return tagged("s", j);
            std::string const b = toBase64(reinterpret_cast<uint8_t const*>(s.data()), s.size());
            return tagged("S", json_stringn(b.data(), b.size()));
        }
        case K::Data: {
            std::string const b = toBase64(v.data()->data(), v.data()->size());
            return tagged("x", json_stringn(b.data(), b.size()));
        }
        case K::Array: {
            json_t* a = json_array();
            for (Value const& e : *v.array()) json_array_append_new(a, encodeValue(e));
            return tagged("a", a);
        }
        case K::Dict:
            return encodeDict(*v.dict());
        case K::Map: {
            json_t* pairs = json_array();
            for (auto const& [k, e] : *v.map()) {
                json_array_append_new(pairs, encodeValue(k));
                json_array_append_new(pairs, encodeValue(e));
            }
            return tagged("m", pairs);
        }
        case K::Object: {
            auto const object = v.object();
            ArchiveEncoder encoder;
            object->encodeWith(encoder);
            json_t* a = tagged("c", json_string(object->className().c_str()));
            json_array_append_new(a, encodeDict(encoder.fields()));
            return a;
        }
    }
    return tagged("n", nullptr);
}

enum class Decoded { Ok, Dropped, Bad };

Decoded decodeValue(json_t const* j, Value& out);

std::optional<double> decodeReal(json_t const* p) {
    if (json_is_real(p)) return json_real_value(p);
    if (json_is_integer(p)) return static_cast<double>(json_integer_value(p));
    if (json_is_string(p)) {
        char const* s = json_string_value(p);
        if (!std::strcmp(s, "nan")) return std::numeric_limits<double>::quiet_NaN();
        if (!std::strcmp(s, "inf")) return std::numeric_limits<double>::infinity();
        if (!std::strcmp(s, "-inf")) return -std::numeric_limits<double>::infinity();
    }
    return std::nullopt;
}

Decoded decodePairs(json_t const* pairs, bool stringKeys, Value& out) {
    if (!json_is_array(pairs) || json_array_size(pairs) % 2 != 0) return Decoded::Bad;
    Value::Dict dict;
    Value::Map map;
    for (size_t i = 0; i < json_array_size(pairs); i += 2) {
        Value key, value;
        Decoded const dk = decodeValue(json_array_get(pairs, i), key);
        Decoded const dv = decodeValue(json_array_get(pairs, i + 1), value);
        if (dk == Decoded::Bad || dv == Decoded::Bad) return Decoded::Bad;
        if (dk == Decoded::Dropped || dv == Decoded::Dropped) continue;
        if (stringKeys) {
            if (!key.string()) return Decoded::Bad;
            dict[*key.string()] = std::move(value);
        } else {
            map[std::move(key)] = std::move(value);
        }
    }
    out = stringKeys ? Value(std::move(dict)) : Value(std::move(map));
    return Decoded::Ok;
}

Decoded decodeObjectFields(json_t const* o, Value& out) {
    if (!json_is_object(o)) return Decoded::Bad;
    Value::Dict dict;
    char const* key;
    size_t keyLength;
    json_t* child;
    json_object_keylen_foreach(const_cast<json_t*>(o), key, keyLength, child) {
        Value value;
        Decoded const d = decodeValue(child, value);
        if (d == Decoded::Bad) return Decoded::Bad;
        if (d == Decoded::Ok) dict[std::string(key, keyLength)] = std::move(value);
    }
    out = Value(std::move(dict));
    return Decoded::Ok;
}

Decoded decodeValue(json_t const* j, Value& out) {
    if (!json_is_array(j) || json_array_size(j) < 1 || !json_is_string(json_array_get(j, 0))) return Decoded::Bad;
    std::string const tag = json_string_value(json_array_get(j, 0));
    size_t const n = json_array_size(j);
    json_t const* p = n > 1 ? json_array_get(j, 1) : nullptr;
    if (tag == "n") {
        if (n != 1) return Decoded::Bad;
        out = Value();
        return Decoded::Ok;
    }
    if (tag == "c") {
        if (n != 3 || !json_is_string(p)) return Decoded::Bad;
        Value fields;
        json_t const* f = json_array_get(j, 2);
        if (!json_is_array(f) || json_array_size(f) != 2 || !json_is_string(json_array_get(f, 0))) return Decoded::Bad;
        if (decodeValue(f, fields) != Decoded::Ok || !fields.dict()) return Decoded::Bad;
        KeyedArchive::Factory factory;
        {
            std::lock_guard<std::mutex> lock(registryMutex());
            auto it = registry().find(json_string_value(p));
            if (it == registry().end()) return Decoded::Dropped;
            factory = it->second;
        }
        std::shared_ptr<Archivable> object;
        try {
            object = factory(ArchiveDecoder(std::move(*fields.dict())));
        } catch (...) {
            object = nullptr;
        }
        if (!object) return Decoded::Dropped;
        out = Value(std::move(object));
        return Decoded::Ok;
    }
    if (n != 2) return Decoded::Bad;
    if (tag == "b") {
        if (!json_is_boolean(p)) return Decoded::Bad;
        out = Value(json_is_true(p));
    } else if (tag == "i") {
        if (!json_is_integer(p)) return Decoded::Bad;
        out = Value(static_cast<int64_t>(json_integer_value(p)));
    } else if (tag == "u") {
        if (json_is_integer(p) && json_integer_value(p) >= 0) {
            out = Value(static_cast<uint64_t>(json_integer_value(p)));
        } else if (json_is_string(p)) {
            char const* s = json_string_value(p);
            if (!*s || std::strlen(s) > 20 || std::strspn(s, "0123456789") != std::strlen(s)) return Decoded::Bad;
            errno = 0;
            unsigned long long const u = std::strtoull(s, nullptr, 10);
            if (errno == ERANGE) return Decoded::Bad;
            out = Value(static_cast<uint64_t>(u));
        } else {
            return Decoded::Bad;
        }
    } else if (tag == "f" || tag == "d" || tag == "t") {
        auto const d = decodeReal(p);
        if (!d) return Decoded::Bad;
        if (tag == "f")
            out = Value(static_cast<float>(*d));
        else if (tag == "d")
            out = Value(*d);
        else
            out = Value(Date{*d});
    } else if (tag == "s") {
        if (!json_is_string(p)) return Decoded::Bad;
        out = Value(std::string(json_string_value(p), json_string_length(p)));
    } else if (tag == "S" || tag == "x") {
        if (!json_is_string(p)) return Decoded::Bad;
        auto bytes = fromBase64(json_string_value(p), json_string_length(p));
        if (!bytes) return Decoded::Bad;
        if (tag == "x")
            out = Value(std::move(*bytes));
        else
            out = Value(std::string(bytes->begin(), bytes->end()));
    } else if (tag == "a") {
        if (!json_is_array(p)) return Decoded::Bad;
        Value::Array array;
        array.reserve(json_array_size(p));
        for (size_t i = 0; i < json_array_size(p); ++i) {
            Value e;
            Decoded const d = decodeValue(json_array_get(p, i), e);
            if (d == Decoded::Bad) return Decoded::Bad;
            if (d == Decoded::Ok) array.push_back(std::move(e));
        }
        out = Value(std::move(array));
    } else if (tag == "o") {
        return decodeObjectFields(p, out);
    } else if (tag == "O" || tag == "m") {
        return decodePairs(p, tag == "O", out);
    } else {
        return Decoded::Bad;
    }
    return Decoded::Ok;
}

int appendToData(char const* buffer, size_t size, void* data) {
    auto* out = static_cast<Data*>(data);
    out->insert(out->end(), buffer, buffer + size);
    return 0;
}

}  // namespace

bool isValidUtf8(std::string const& text) {
    json_t* j = json_stringn(text.data(), text.size());
    json_decref(j);
    return j != nullptr;
}

Value const* ArchiveDecoder::value(std::string const& key) const {
    auto it = fields_.find(key);
    return it == fields_.end() ? nullptr : &it->second;
}

Value const* ArchiveDecoder::value(std::string const& key, Value::Kind kind) const {
    Value const* v = value(key);
    return v && v->kind() == kind ? v : nullptr;
}

std::optional<bool> ArchiveDecoder::decodeBool(std::string const& key) const {
    Value const* v = value(key);
    return v ? v->asBool() : std::nullopt;
}

std::optional<int64_t> ArchiveDecoder::decodeInt(std::string const& key) const {
    Value const* v = value(key);
    if (!v) return std::nullopt;
    if (auto i = v->asInt()) return i;
    if (auto u = v->asUInt(); u && *u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return static_cast<int64_t>(*u);
    return std::nullopt;
}

std::optional<double> ArchiveDecoder::decodeDouble(std::string const& key) const {
    Value const* v = value(key);
    return v ? v->asDouble() : std::nullopt;
}

std::optional<std::string> ArchiveDecoder::decodeString(std::string const& key) const {
    Value const* v = value(key, Value::Kind::String);
    return v ? std::optional<std::string>(*v->string()) : std::nullopt;
}

std::optional<Data> ArchiveDecoder::decodeData(std::string const& key) const {
    Value const* v = value(key, Value::Kind::Data);
    return v ? std::optional<Data>(*v->data()) : std::nullopt;
}

std::optional<Date> ArchiveDecoder::decodeDate(std::string const& key) const {
    Value const* v = value(key);
    return v ? v->date() : std::nullopt;
}

Value::Dict const* ArchiveDecoder::decodeDict(std::string const& key) const {
    Value const* v = value(key);
    return v ? v->dict() : nullptr;
}

Value::Array const* ArchiveDecoder::decodeArray(std::string const& key) const {
    Value const* v = value(key);
    return v ? v->array() : nullptr;
}

void KeyedArchive::registerClass(std::string const& className, Factory factory) {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry()[className] = std::move(factory);
}

Data KeyedArchive::encode(Value const& root) {
    Data out{kVersion};
    JsonRef json(encodeValue(root));
    json_dump_callback(json.p, appendToData, &out, JSON_COMPACT | JSON_ENCODE_ANY);
    return out;
}

std::optional<Value> KeyedArchive::decode(uint8_t const* bytes, size_t size) {
    if (size < 2 || size > kMaxSize || bytes[0] != kVersion) return std::nullopt;
    json_error_t error;
    JsonRef json(json_loadb(reinterpret_cast<char const*>(bytes + 1), size - 1, JSON_ALLOW_NUL | JSON_DECODE_ANY, &error));
    if (!json.p) return std::nullopt;
    Value out;
    Decoded const d = decodeValue(json.p, out);
    if (d == Decoded::Bad) return std::nullopt;
    if (d == Decoded::Dropped) return Value();
    return out;
}

bool KeyedArchive::writeToFile(Value const& root, std::filesystem::path const& path, std::string* error) {
    Data const bytes = encode(root);
    return writeFileAtomically(path, bytes.data(), bytes.size(), error);
}

KeyedArchive::ReadResult KeyedArchive::readFromFile(std::filesystem::path const& path) {
    ReadResult result;
    WholeFile file = readWholeFile(path, kMaxSize);
    switch (file.status) {
        case WholeFile::Missing:
            result.status = ReadResult::Missing;
            return result;
        case WholeFile::TooLarge:
        case WholeFile::Failed:
            result.status = ReadResult::Unreadable;
            return result;
        case WholeFile::Read:
            break;
    }
    auto value = decode(file.bytes);
    if (!value) {
        result.status = ReadResult::Corrupt;
        return result;
    }
    result.status = ReadResult::Read;
    result.value = std::move(*value);
    return result;
}

}  // namespace platform
