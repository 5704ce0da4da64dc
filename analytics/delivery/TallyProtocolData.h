#pragma once
// The field vocabulary of every binary record the agent sends or stores: fields laid end to end,
// numbers big-endian, no tags and no padding. Strings are UTF-8 std::strings; an absent string or
// buffer is written like an empty one.
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class TallyProtocolData {
public:
    using Bytes = std::vector<uint8_t>;
    using ByteSpan = std::span<uint8_t const>;

    // Raised by the readers for a read that does not lie wholly inside the buffer.
    class MalformedData : public std::runtime_error {
    public:
        explicit MalformedData(std::string const& reason) : std::runtime_error(reason) {}
        static constexpr char const* kName = "Malformed data";
        char const* name() const { return kName; }
        std::string reason() const { return what(); }
    };

    TallyProtocolData() = delete;

    static void appendBoolean(bool value, Bytes& data);
    static void appendByte(int8_t value, Bytes& data);
    static void appendUshort(uint16_t value, Bytes& data);
    static void appendInt(int32_t value, Bytes& data);
    static void appendLong(int64_t value, Bytes& data);
    static void appendFloat(float value, Bytes& data);
    static void appendDouble(double value, Bytes& data);
    // Seconds since 1970; absent writes timestamp 0.
    static void appendTimestamp(std::optional<double> secondsSince1970, Bytes& data);
    static void appendString(std::string_view value, Bytes& data);
    // Past 65,535 bytes the string is cut at the last whole character that fits.
    static void appendStringUnlimited(std::string_view value, Bytes& data);
    static void appendTinyData(ByteSpan value, Bytes& data);
    // Past 65,535 bytes only the first 65,535 are written, so prefix and payload agree.
    static void appendShortData(ByteSpan value, Bytes& data);
    static void appendLargeData(ByteSpan value, Bytes& data);

    // A string of 256 or more UTF-16 code units becomes its first 255 units; a character whose
    // surrogate pair the cut would split is left out. Bytes that are not UTF-8 end the string.
    static std::string limitStringLength(std::string_view value);
    // Milliseconds from one date to the other, 0 when either is absent.
    static int64_t timeIntervalFrom(std::optional<double> from, std::optional<double> to);

    static int16_t getInt16FromData(ByteSpan data, int32_t index);
    static int32_t getInt32FromData(ByteSpan data, int32_t index);

    // The longest prefix of value that is valid UTF-8 and at most maxBytes long, never ending
    // inside a character.
    static std::string_view validUtf8Prefix(std::string_view value, size_t maxBytes);
};
