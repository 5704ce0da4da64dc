// Key hashing, string lookup and the binary font and string tables.
#include <gtest/gtest.h>

#include <cstring>

#include "fonts/FontTable.h"
#include "fonts/MurmurHash2.h"
#include "fonts/StringTable.h"

using namespace Fonts;

namespace {

std::vector<uint8_t> bytesOf(std::initializer_list<uint64_t> u64s) {
    std::vector<uint8_t> out;
    for (uint64_t v : u64s)
        for (int i = 0; i < 8; ++i) out.push_back(uint8_t(v >> (8 * i)));
    return out;
}
void appendU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
void appendF32(std::vector<uint8_t>& out, float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    appendU32(out, v);
}
void appendU64(std::vector<uint8_t>& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
void appendString(std::vector<uint8_t>& out, std::string const& s) {
    appendU64(out, s.size());
    out.insert(out.end(), s.begin(), s.end());
}

StringTable tableOf(std::vector<std::string> const& keys) {
    std::vector<StringTable::Entry> entries;
    for (auto const& k : keys) entries.emplace_back(stringKeyHash(k), "text of " + k);
    std::sort(entries.begin(), entries.end());
    return StringTable(entries);
}

}  // namespace

TEST(MurmurHash2, MatchesReferenceForEveryTailLength) {
    // Published values with seed 0, then seed 0x539 for keys of 0 to 9 bytes (all tail cases,
    // one and two whole blocks) and a key with bytes above 0x7f.
    EXPECT_EQ(murmurHash2("", 0, 0), 0u);
    EXPECT_EQ(murmurHash2("hello", 5, 0), 0xe56129cbu);
    struct Case {
        char const* key;
        uint32_t hash;
    } const cases[] = {
        {"", 0x8b4dfdb4},        {"a", 0x50c364e6},        {"ab", 0x3f149f4b},
        {"abc", 0x3f6e3e34},     {"abcd", 0xddf85998},     {"abcde", 0x79caf377},
        {"abcdef", 0x86db5cac},  {"abcdefg", 0x9bbfd1e1},  {"abcdefgh", 0xda8f5817},
        {"\xff\xfe\x80", 0xf8dc8969}, {"gamePausedInPauseMenu", 0x4dab5834},
        {"downloaderDownloadingNewContent", 0xec42100b},
    };
    for (auto const& c : cases) EXPECT_EQ(stringKeyHash(c.key), c.hash) << c.key;
}

TEST(StringTable, LookupHitsMissesAndTheEmptyKey) {
    StringTable empty;
    EXPECT_EQ(empty.get("anything"), "String not found");
    EXPECT_EQ(empty.get(""), "");
    EXPECT_FALSE(empty.contains(""));

    StringTable one({{stringKeyHash("only"), "Only"}});
    EXPECT_EQ(one.get("only"), "Only");
    EXPECT_TRUE(one.contains("only"));
    EXPECT_EQ(one.get("other"), "String not found");
    EXPECT_FALSE(one.contains("other"));

    // The empty key never looks anything up, but contains() hashes it like any key.
    StringTable withEmptyHash({{stringKeyHash(""), "stored under the empty key's hash"}});
    EXPECT_EQ(withEmptyHash.get(""), "");
    EXPECT_TRUE(withEmptyHash.contains(""));

    // Misses return the same lasting text every time.
    EXPECT_EQ(&one.get("x"), &empty.get("y"));
    EXPECT_EQ(&one.get("x"), &StringTable::missText());

    std::vector<std::string> keys;
    for (int i = 0; i < 200; ++i) keys.push_back("key" + std::to_string(i));
    StringTable many = tableOf(keys);
    for (auto const& k : keys) EXPECT_EQ(many.get(k), "text of " + k);

    // A hash stored twice gives the first text.
    uint32_t h = stringKeyHash("clash");
    StringTable t({{h - 1, "before"}, {h, "first"}, {h, "second"}, {h + 1, "after"}});
    EXPECT_EQ(t.get("clash"), "first");
}

TEST(StringTable, FileRoundTripAndDamage) {
    std::vector<StringTable::Entry> entries = {{1, "one"}, {7, ""}, {0xffffffffu, "last \xe2\x82\xac"}};
    auto bytes = StringTable::write(entries);
    ASSERT_EQ(bytes.size(), 8u + 3 * 12 + 3 + 0 + 8);

    StringTable t;
    std::string error;
    EXPECT_TRUE(t.read(bytes.data(), bytes.size(), &error));
    EXPECT_EQ(t.entries(), entries);

    auto zero = bytesOf({0});
    StringTable none;
    EXPECT_TRUE(none.read(zero.data(), zero.size()));
    EXPECT_TRUE(none.entries().empty());

    // Cut inside the last text: the entries before it stay.
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        StringTable partial;
        EXPECT_FALSE(partial.read(bytes.data(), cut, &error)) << cut;
        EXPECT_FALSE(error.empty());
        EXPECT_LE(partial.entries().size(), 2u);
        for (std::size_t i = 0; i < partial.entries().size(); ++i) EXPECT_EQ(partial.entries()[i], entries[i]);
    }
    StringTable two;
    two.read(bytes.data(), bytes.size() - 1);
    EXPECT_EQ(two.entries().size(), 2u);

    // A count or length far beyond the input fails at once instead of allocating it.
    auto huge = bytesOf({0x0fffffffffffffffull});
    StringTable hugeCount;
    EXPECT_FALSE(hugeCount.read(huge.data(), huge.size(), &error));
    std::vector<uint8_t> hugeLength = bytesOf({1});
    appendU32(hugeLength, 5);
    appendU64(hugeLength, 1ull << 40);
    StringTable longText;
    EXPECT_FALSE(longText.read(hugeLength.data(), hugeLength.size()));
    EXPECT_TRUE(longText.entries().empty());

    StringTable nothing;
    EXPECT_FALSE(nothing.read(nullptr, 0));
}

TEST(FontTable, ByteLayoutAndRoundTrip) {
    FontTable t;
    t.pageFlags = {1, 0};
    FontRecord f;
    f.baseline = -20;
    f.lineHeight = 30;
    f.lineSpacing = 1.25f;
    Glyph g;
    g.advance = 11;
    g.width = 9;
    g.height = 14;
    g.offsetX = 1;
    g.offsetY = 2;
    for (int i = 0; i < 8; ++i) g.texCoords[i] = i / 8.0f;
    f.glyphs[65] = g;
    t.fonts.push_back(f);
    t.fonts.push_back(FontRecord{});
    t.styles = {{"hud", 1}, {"regularMenu", 0}};
    t.fontPages = {{0, 0}, {1, 1}};
    auto bytes = t.write();

    // The layout written by hand, field by field.
    std::vector<uint8_t> expected = bytesOf({2});
    appendU32(expected, 1);
    appendU32(expected, 0);
    appendU64(expected, 2);
    for (float v : {-20.0f, 30.0f, 1.25f}) appendF32(expected, v);
    appendU64(expected, 1);
    appendU32(expected, 65);
    for (float v : {11.0f, 9.0f, 14.0f, 1.0f, 2.0f}) appendF32(expected, v);
    for (int i = 0; i < 8; ++i) appendF32(expected, i / 8.0f);
    for (float v : {0.0f, 0.0f, 0.0f}) appendF32(expected, v);
    appendU64(expected, 0);
    appendU64(expected, 2);
    appendString(expected, "hud");
    appendU32(expected, 1);
    appendString(expected, "regularMenu");
    appendU32(expected, 0);
    appendU64(expected, 2);
    for (uint32_t v : {0u, 0u, 1u, 1u}) appendU32(expected, v);
    EXPECT_EQ(bytes, expected);

    FontTable back;
    EXPECT_TRUE(back.read(bytes.data(), bytes.size()));
    EXPECT_EQ(back.pageFlags, t.pageFlags);
    ASSERT_EQ(back.fonts.size(), 2u);
    EXPECT_EQ(back.fonts[0].lineSpacing, 1.25f);
    ASSERT_EQ(back.fonts[0].glyphs.count(65), 1u);
    EXPECT_EQ(back.fonts[0].glyphs.at(65).texCoords[7], 7 / 8.0f);
    EXPECT_EQ(back.styles, t.styles);
    EXPECT_EQ(back.fontPages, t.fontPages);

    // Trailing bytes are ignored.
    bytes.push_back(42);
    FontTable trailing;
    EXPECT_TRUE(trailing.read(bytes.data(), bytes.size()));
}

TEST(FontTable, RepeatedKeysKeepTheFirstAndDamageKeepsWhatWasRead) {
    std::vector<uint8_t> b = bytesOf({0, 0});  // no pages, no fonts
    appendU64(b, 2);
    appendString(b, "hud");
    appendU32(b, 3);
    appendString(b, "hud");
    appendU32(b, 4);
    appendU64(b, 2);
    for (uint32_t v : {0u, 5u, 0u, 6u}) appendU32(b, v);
    FontTable t;
    EXPECT_TRUE(t.read(b.data(), b.size()));
    EXPECT_EQ(t.styles.at("hud"), 3u);
    EXPECT_EQ(t.fontPages.at(0), 5u);

    // Cut inside fontPages: the earlier fields are whole.
    FontTable cut;
    std::string error;
    EXPECT_FALSE(cut.read(b.data(), b.size() - 2, &error));
    EXPECT_NE(error.find("Failed to read"), std::string::npos) << error;
    EXPECT_EQ(cut.styles.size(), 1u);
    EXPECT_EQ(cut.fontPages.size(), 1u);

    // A glyph count no input could hold.
    std::vector<uint8_t> g = bytesOf({0, 1});
    for (float v : {1.0f, 2.0f, 3.0f}) appendF32(g, v);
    appendU64(g, 1ull << 50);
    FontTable huge;
    EXPECT_FALSE(huge.read(g.data(), g.size()));
    ASSERT_EQ(huge.fonts.size(), 1u);
    EXPECT_EQ(huge.fonts[0].lineSpacing, 3.0f);
}
