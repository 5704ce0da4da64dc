#include "analytics/delivery/TallyProtocolData.h"

#include <utf8.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

template <typename U>
void appendBigEndian(U value, TallyProtocolData::Bytes& data) {
    uint8_t bytes[sizeof(U)];
    for (size_t i = 0; i < sizeof(U); ++i) bytes[i] = uint8_t(value >> (8 * (sizeof(U) - 1 - i)));
    data.insert(data.end(), bytes, bytes + sizeof(U));
}

// Eight bytes at a time: field strings are short and almost always ASCII.
bool isAscii(std::string_view value) {
    uint64_t any = 0;
    size_t i = 0;
    for (; i + 8 <= value.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, value.data() + i, 8);
        any |= word;
    }
    for (; i < value.size(); ++i) any |= uint8_t(value[i]);
    return (any & 0x8080808080808080ull) == 0;
}

// Writes the low 16 bits of the payload length first; callers keep the payload at 65,535 bytes.
void appendWithShortPrefix(uint8_t const* bytes, size_t size, TallyProtocolData::Bytes& data) {
    appendBigEndian(uint16_t(size), data);
    data.insert(data.end(), bytes, bytes + size);
}

int64_t millisecondsOf(double seconds) {
    double const ms = seconds * 1000.0;
    // Out-of-range dates clamp instead of invoking an undefined conversion.
    if (std::isnan(ms)) return 0;
    if (ms >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
    if (ms <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
    return int64_t(ms);
}

[[noreturn]] void malformed(char const* operation, size_t length, int32_t index) {
    char reason[160];
    std::snprintf(reason, sizeof reason, "%s: data len=%lu, ix=%d", operation, static_cast<unsigned long>(length), index);
    throw TallyProtocolData::MalformedData(reason);
}

}  // namespace

void TallyProtocolData::appendBoolean(bool value, Bytes& data) { data.push_back(value ? 1 : 0); }
void TallyProtocolData::appendByte(int8_t value, Bytes& data) { data.push_back(uint8_t(value)); }
void TallyProtocolData::appendUshort(uint16_t value, Bytes& data) { appendBigEndian(value, data); }
void TallyProtocolData::appendInt(int32_t value, Bytes& data) { appendBigEndian(uint32_t(value), data); }
void TallyProtocolData::appendLong(int64_t value, Bytes& data) { appendBigEndian(uint64_t(value), data); }
void TallyProtocolData::appendFloat(float value, Bytes& data) { appendBigEndian(std::bit_cast<uint32_t>(value), data); }
void TallyProtocolData::appendDouble(double value, Bytes& data) { appendBigEndian(std::bit_cast<uint64_t>(value), data); }

void TallyProtocolData::appendTimestamp(std::optional<double> secondsSince1970, Bytes& data) {
    appendLong(secondsSince1970 ? millisecondsOf(*secondsSince1970) : 0, data);
}

std::string_view TallyProtocolData::validUtf8Prefix(std::string_view value, size_t maxBytes) {
    std::string_view prefix = value;
    if (!isAscii(value)) prefix = value.substr(0, size_t(utf8::find_invalid(value.begin(), value.end()) - value.begin()));
    if (prefix.size() <= maxBytes) return prefix;
    // Back off to the start of the character that straddles the limit.
    size_t end = maxBytes;
    while (end > 0 && (uint8_t(prefix[end]) & 0xC0) == 0x80) --end;
    return prefix.substr(0, end);
}

namespace {

// The bytes of value that limitStringLength keeps.
std::string_view limitedPrefix(std::string_view value) {
    std::string_view const valid = TallyProtocolData::validUtf8Prefix(value, value.size());
    // Fewer than 256 bytes are fewer than 256 UTF-16 units.
    if (valid.size() < 256) return valid;
    size_t units = 0;
    size_t cut = std::string_view::npos;
    for (auto it = valid.begin(); it != valid.end();) {
        auto const start = it;
        size_t const width = utf8::unchecked::next(it) > 0xFFFF ? 2 : 1;
        if (units + width > 255 && cut == std::string_view::npos) cut = size_t(start - valid.begin());
        units += width;
        if (units >= 256) return valid.substr(0, cut);
    }
    return valid;
}

}  // namespace

std::string TallyProtocolData::limitStringLength(std::string_view value) { return std::string(limitedPrefix(value)); }

void TallyProtocolData::appendString(std::string_view value, Bytes& data) {
    std::string_view const cut = limitedPrefix(value);
    appendWithShortPrefix(reinterpret_cast<uint8_t const*>(cut.data()), cut.size(), data);
}

void TallyProtocolData::appendStringUnlimited(std::string_view value, Bytes& data) {
    std::string_view const bytes = validUtf8Prefix(value, 0xFFFF);
    appendWithShortPrefix(reinterpret_cast<uint8_t const*>(bytes.data()), bytes.size(), data);
}

void TallyProtocolData::appendTinyData(ByteSpan value, Bytes& data) {
    size_t const m = value.size() % 256;
    data.push_back(uint8_t(m));
    data.insert(data.end(), value.begin(), value.begin() + ptrdiff_t(m));
}

void TallyProtocolData::appendShortData(ByteSpan value, Bytes& data) {
    appendWithShortPrefix(value.data(), std::min<size_t>(value.size(), 0xFFFF), data);
}

void TallyProtocolData::appendLargeData(ByteSpan value, Bytes& data) {
    // Buffers over 4 GiB cannot be described; the clamp keeps prefix and payload in step.
    size_t const size = std::min<size_t>(value.size(), 0xFFFFFFFFu);
    appendBigEndian(uint32_t(size), data);
    data.insert(data.end(), value.begin(), value.begin() + ptrdiff_t(size));
}

int64_t TallyProtocolData::timeIntervalFrom(std::optional<double> from, std::optional<double> to) {
    if (!from || !to) return 0;
    return millisecondsOf(*to - *from);
}

int16_t TallyProtocolData::getInt16FromData(ByteSpan data, int32_t index) {
    if (index < 0 || data.size() < 2 || size_t(index) > data.size() - 2)
        malformed("+[TallyProtocolData getInt16FromData:atIndex:]", data.size(), index);
    return int16_t(uint16_t(data[size_t(index)] << 8 | data[size_t(index) + 1]));
}

int32_t TallyProtocolData::getInt32FromData(ByteSpan data, int32_t index) {
    if (index < 0 || data.size() < 4 || size_t(index) > data.size() - 4)
        malformed("+[TallyProtocolData getInt32FromData:atIndex:]", data.size(), index);
    size_t const i = size_t(index);
    return int32_t(uint32_t(data[i]) << 24 | uint32_t(data[i + 1]) << 16 | uint32_t(data[i + 2]) << 8 | data[i + 3]);
}
