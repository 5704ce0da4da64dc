#pragma once
// The keyed archive every stored object goes through: a version byte, then JSON in which each
// value carries its type, so that bools, integers, reals, dates and data come back as they went
// in. Objects are written under their class name and rebuilt through a registry; a class that is
// not registered reads as nothing. Property lists are stored the same way.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/Value.h"

namespace platform {

// What an object writes under its keys.
class ArchiveEncoder {
public:
    void encode(std::string const& key, Value value) { fields_[key] = std::move(value); }
    Value::Dict const& fields() const { return fields_; }

private:
    Value::Dict fields_;
};

// What an object reads back. A key whose stored value is of another kind reads as absent.
class ArchiveDecoder {
public:
    explicit ArchiveDecoder(Value::Dict fields) : fields_(std::move(fields)) {}
    bool contains(std::string const& key) const { return fields_.count(key) != 0; }
    Value const* value(std::string const& key) const;
    Value const* value(std::string const& key, Value::Kind kind) const;
    std::optional<bool> decodeBool(std::string const& key) const;
    std::optional<int64_t> decodeInt(std::string const& key) const;  // Int, or UInt within range
    std::optional<double> decodeDouble(std::string const& key) const;
    std::optional<std::string> decodeString(std::string const& key) const;
    std::optional<Data> decodeData(std::string const& key) const;
    std::optional<Date> decodeDate(std::string const& key) const;
    Value::Dict const* decodeDict(std::string const& key) const;
    Value::Array const* decodeArray(std::string const& key) const;
    template <class T>
    std::shared_ptr<T> decodeObject(std::string const& key) const {
        Value const* v = value(key, Value::Kind::Object);
        return v ? v->objectAs<T>() : nullptr;
    }
    Value::Dict const& fields() const { return fields_; }

private:
    Value::Dict fields_;
};

// Whether the bytes are UTF-8 (Jansson's own check, the one the archive applies to text).
bool isValidUtf8(std::string const& text);

class KeyedArchive {
public:
    static constexpr uint8_t kVersion = 1;
    static constexpr uint64_t kMaxSize = 64ull << 20;

    // Rebuilds an object from its fields; an empty pointer refuses them.
    using Factory = std::function<std::shared_ptr<Archivable>(ArchiveDecoder const&)>;
    static void registerClass(std::string const& className, Factory factory);

    static Data encode(Value const& root);
    // Nothing for anything that is not a whole archive of this version.
    static std::optional<Value> decode(uint8_t const* bytes, size_t size);
    static std::optional<Value> decode(Data const& bytes) { return decode(bytes.data(), bytes.size()); }

    // Atomic write of the archive; false with a reason when the file could not be written.
    static bool writeToFile(Value const& root, std::filesystem::path const& path, std::string* error = nullptr);

    struct ReadResult {
        enum Status { Read, Missing, Unreadable, Corrupt } status = Missing;
        Value value;  // when Read
    };
    // Reads and decodes a file. Unreadable is a file that could not be read whole (an error, or
    // larger than the limit); Corrupt is one read whole that does not decode.
    static ReadResult readFromFile(std::filesystem::path const& path);
};

}  // namespace platform
