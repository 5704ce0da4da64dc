// Field bytes of the report framing and the bounds of its two readers.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "analytics/delivery/TallyProtocolData.h"

namespace {

using Bytes = TallyProtocolData::Bytes;

Bytes hex(std::string const& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 3) out.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes repeat(Bytes const& prefix, std::string const& unit, size_t count) {
    Bytes out = prefix;
    for (size_t i = 0; i < count; ++i) out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

std::string times(std::string const& unit, size_t count) {
    std::string s;
    for (size_t i = 0; i < count; ++i) s += unit;
    return s;
}

struct FieldCase {
    char const* what;
    std::function<void(Bytes&)> append;
    Bytes expected;
};

TEST(TallyProtocolDataTest, FieldsWriteTheirBytes) {
    Bytes const b300(300, 0x5A);
    Bytes const b256(256, 0x11);
    std::string const euro = "\xE2\x82\xAC";    // three UTF-8 bytes, one UTF-16 unit
    std::string const clef = "\xF0\x9D\x84\x9E";  // four UTF-8 bytes, a surrogate pair
    FieldCase const cases[] = {
        {"string abc", [](Bytes& d) { TallyProtocolData::appendString("abc", d); }, hex("00 03 61 62 63")},
        {"empty string", [](Bytes& d) { TallyProtocolData::appendString("", d); }, hex("00 00")},
        {"255 units whole", [](Bytes& d) { TallyProtocolData::appendString(times("a", 255), d); },
         repeat(hex("00 FF"), "a", 255)},
        {"256 units cut to 255", [](Bytes& d) { TallyProtocolData::appendString(times("a", 256), d); },
         repeat(hex("00 FF"), "a", 255)},
        {"255 three-byte characters", [&](Bytes& d) { TallyProtocolData::appendString(times(euro, 300), d); },
         repeat(hex("02 FD"), euro, 255)},
        {"cut never splits a surrogate pair",
         [&](Bytes& d) { TallyProtocolData::appendString(times("a", 254) + clef + "b", d); },
         repeat(hex("00 FE"), "a", 254)},
        {"pair under the cut kept",
         [&](Bytes& d) { TallyProtocolData::appendString(times("a", 253) + clef, d); },
         [&] { Bytes b = repeat(hex("01 01"), "a", 253); b.insert(b.end(), clef.begin(), clef.end()); return b; }()},
        {"invalid UTF-8 keeps the valid prefix",
         [](Bytes& d) { TallyProtocolData::appendString(std::string("ab\xC3", 3), d); }, hex("00 02 61 62")},
        {"unlimited 300", [](Bytes& d) { TallyProtocolData::appendStringUnlimited(times("x", 300), d); },
         repeat(hex("01 2C"), "x", 300)},
        {"unlimited past 65535 cut at a character",
         [&](Bytes& d) { TallyProtocolData::appendStringUnlimited(times(euro, 21846), d); },
         repeat(hex("FF FF"), euro, 21845)},
        {"tiny 300", [&](Bytes& d) { TallyProtocolData::appendTinyData(b300, d); },
         [&] { Bytes b = hex("2C"); b.insert(b.end(), b300.begin(), b300.begin() + 44); return b; }()},
        {"tiny 256", [&](Bytes& d) { TallyProtocolData::appendTinyData(b256, d); }, hex("00")},
        {"short data past 65535", [](Bytes& d) { TallyProtocolData::appendShortData(Bytes(70000, 7), d); },
         [] { Bytes b = hex("FF FF"); b.resize(2 + 65535, 7); return b; }()},
        {"large data", [](Bytes& d) { TallyProtocolData::appendLargeData(hex("01 02 03 04 05"), d); },
         hex("00 00 00 05 01 02 03 04 05")},
        {"absent buffer", [](Bytes& d) { TallyProtocolData::appendLargeData({}, d); }, hex("00 00 00 00")},
        {"ushort", [](Bytes& d) { TallyProtocolData::appendUshort(0x1234, d); }, hex("12 34")},
        {"int -2", [](Bytes& d) { TallyProtocolData::appendInt(-2, d); }, hex("FF FF FF FE")},
        {"long 1", [](Bytes& d) { TallyProtocolData::appendLong(1, d); }, hex("00 00 00 00 00 00 00 01")},
        {"byte -1 and bools", [](Bytes& d) {
             TallyProtocolData::appendByte(-1, d);
             TallyProtocolData::appendBoolean(true, d);
             TallyProtocolData::appendBoolean(false, d);
         }, hex("FF 01 00")},
        {"float 1", [](Bytes& d) { TallyProtocolData::appendFloat(1.0f, d); }, hex("3F 80 00 00")},
        {"double 1", [](Bytes& d) { TallyProtocolData::appendDouble(1.0, d); }, hex("3F F0 00 00 00 00 00 00")},
        {"timestamp 1.9999 s", [](Bytes& d) { TallyProtocolData::appendTimestamp(1.9999, d); },
         hex("00 00 00 00 00 00 07 CF")},
        {"timestamp 1.5 ms before 1970", [](Bytes& d) { TallyProtocolData::appendTimestamp(-0.0015, d); },
         hex("FF FF FF FF FF FF FF FF")},
        {"absent timestamp", [](Bytes& d) { TallyProtocolData::appendTimestamp(std::nullopt, d); },
         hex("00 00 00 00 00 00 00 00")},
        {"timestamp far out of range clamps", [](Bytes& d) { TallyProtocolData::appendTimestamp(1e300, d); },
         hex("7F FF FF FF FF FF FF FF")},
    };
    for (auto const& c : cases) {
        Bytes out = hex("AA");  // fields append after what is there
        c.append(out);
        Bytes expected = hex("AA");
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(out, expected) << c.what;
    }
}

TEST(TallyProtocolDataTest, IntervalsAndReadersStayInBounds) {
    EXPECT_EQ(TallyProtocolData::timeIntervalFrom(10.0, 10.0), 0);
    EXPECT_EQ(TallyProtocolData::timeIntervalFrom(10.0, 7.5), -2500);
    EXPECT_EQ(TallyProtocolData::timeIntervalFrom(std::nullopt, 7.5), 0);
    EXPECT_EQ(TallyProtocolData::timeIntervalFrom(7.5, std::nullopt), 0);

    struct ReadCase {
        Bytes data;
        int32_t index;
        bool wide;
        std::optional<int32_t> value;  // none: refused
    };
    ReadCase const reads[] = {
        {hex("FF FE"), 0, false, -2},
        {hex("00 01 02"), 1, false, 258},
        {hex("00 01 02"), 2, false, std::nullopt},
        {hex("01"), 0, false, std::nullopt},
        {{}, 0, false, std::nullopt},
        {hex("00 01"), -1, false, std::nullopt},
        {hex("80 00 00 01"), 0, true, int32_t(0x80000001u)},
        {hex("00 00 00 01"), 1, true, std::nullopt},
        {hex("00 00 00 01"), -2147483647 - 1, true, std::nullopt},
        {hex("00 00 00 01 02"), 2147483647, true, std::nullopt},
    };
    for (auto const& r : reads) {
        auto read = [&] {
            return r.wide ? TallyProtocolData::getInt32FromData(r.data, r.index)
                          : int32_t(TallyProtocolData::getInt16FromData(r.data, r.index));
        };
        if (r.value) {
            EXPECT_EQ(read(), *r.value) << r.index;
        } else {
            try {
                read();
                ADD_FAILURE() << "read at " << r.index << " of " << r.data.size() << " bytes accepted";
            } catch (TallyProtocolData::MalformedData const& e) {
                EXPECT_STREQ(e.name(), "Malformed data");
                std::string const op = r.wide ? "+[TallyProtocolData getInt32FromData:atIndex:]"
                                              : "+[TallyProtocolData getInt16FromData:atIndex:]";
                EXPECT_EQ(e.reason(), op + ": data len=" + std::to_string(r.data.size()) + ", ix=" + std::to_string(r.index));
            }
        }
    }
}

}  // namespace
