#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

#include "platform/base/AtomicFile.h"
#include "platform/base/Directories.h"
#include "platform/base/KeyedArchive.h"
#include "testing/TestPaths.h"

using platform::Data;
using platform::KeyedArchive;
using platform::Value;

namespace {

class Point : public platform::Archivable {
public:
    int64_t x = 0;
    std::string label;
    std::string className() const override { return "TestPoint"; }
    void encodeWith(platform::ArchiveEncoder& e) const override {
        e.encode("x", x);
        e.encode("label", label);
    }
};

void registerPoint() {
    KeyedArchive::registerClass("TestPoint", [](platform::ArchiveDecoder const& d) {
        auto p = std::make_shared<Point>();
        p->x = d.decodeInt("x").value_or(-1);
        p->label = d.decodeString("label").value_or("?");
        return p;
    });
}

Value everyKind() {
    Value::Map map;
    map[Value(Data{1, 2})] = Value("cookie");
    map[Value(int64_t{7})] = Value(true);
    Value::Array array{Value(), Value(false), Value(int64_t{-5}), Value(uint64_t{18446744073709551615ull}),
                       Value(1.5f), Value(0.1), Value(std::numeric_limits<double>::infinity()),
                       Value(-std::numeric_limits<double>::infinity()), Value(std::string("caf\xc3\xa9")),
                       Value(std::string("nul\0inside", 10)), Value(std::string("\xff\xfe not utf-8")),
                       Value(Data{}), Value(Data{0, 255, 10, 13}), Value(platform::Date{1234567890.125})};
    Value::Dict odd{{std::string("\xc0key"), Value(int64_t{1})}, {"plain", Value(int64_t{2})}};
    Value::Dict root{{"array", Value(array)}, {"map", Value(map)}, {"odd", Value(odd)},
                     {"empty", Value(Value::Dict{})}, {"i64min", Value(std::numeric_limits<int64_t>::min())},
                     // A NUL in a key: legal text, but no JSON object key.
                     {"nulKey", Value(Value::Dict{{std::string("`\0", 2), Value(std::string("\xae\xe0"))}})}};
    return Value(root);
}

}  // namespace

TEST(KeyedArchive, EveryKindRoundTripsWithItsType) {
    Value const v = everyKind();
    auto back = KeyedArchive::decode(KeyedArchive::encode(v));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, v);
    // Numbers keep whether they were bools, integers or reals.
    Value::Array const& a = *back->find("array")->array();
    EXPECT_EQ(a[1].kind(), Value::Kind::Bool);
    EXPECT_EQ(a[2].kind(), Value::Kind::Int);
    EXPECT_EQ(a[3].kind(), Value::Kind::UInt);
    EXPECT_EQ(a[4].kind(), Value::Kind::Float);
    EXPECT_EQ(a[5].kind(), Value::Kind::Double);
    EXPECT_EQ(a[9].string()->size(), 10u);

    // NaN is not equal to itself as a double, so it is checked on its own.
    auto nan = KeyedArchive::decode(KeyedArchive::encode(Value(std::nan(""))));
    ASSERT_TRUE(nan && nan->asDouble());
    EXPECT_TRUE(std::isnan(*nan->asDouble()));
}

TEST(KeyedArchive, ObjectsThroughTheRegistryAndTypedKeys) {
    registerPoint();
    auto p = std::make_shared<Point>();
    p->x = 42;
    p->label = "here";
    Value::Array list{Value(p), Value(int64_t{1})};
    auto back = KeyedArchive::decode(KeyedArchive::encode(Value(list)));
    ASSERT_TRUE(back && back->array() && back->array()->size() == 2);
    auto q = (*back->array())[0].objectAs<Point>();
    ASSERT_TRUE(q);
    EXPECT_EQ(q->x, 42);
    EXPECT_EQ(q->label, "here");

    // A key holding another kind reads as absent.
    platform::ArchiveDecoder d(Value::Dict{{"x", Value("text")}, {"flag", Value(int64_t{1})}});
    EXPECT_FALSE(d.decodeInt("x"));
    EXPECT_FALSE(d.decodeBool("flag"));
    EXPECT_FALSE(d.decodeString("missing"));

    // An unknown class is dropped: out of arrays and dictionaries, and as the root.
    Data bytes = KeyedArchive::encode(Value(Value::Dict{{"keep", Value(int64_t{1})}, {"obj", Value(p)}}));
    std::string text(bytes.begin(), bytes.end());
    text.replace(text.find("TestPoint"), 9, "Unknown99");
    auto dropped = KeyedArchive::decode(Data(text.begin(), text.end()));
    ASSERT_TRUE(dropped && dropped->dict());
    EXPECT_EQ(dropped->dict()->size(), 1u);
    EXPECT_TRUE(dropped->find("keep"));
}

TEST(KeyedArchive, DamagedBytesGiveNothing) {
    Data const good = KeyedArchive::encode(everyKind());
    ASSERT_TRUE(KeyedArchive::decode(good));
    EXPECT_FALSE(KeyedArchive::decode(Data{}));
    EXPECT_FALSE(KeyedArchive::decode(Data{KeyedArchive::kVersion}));
    for (size_t cut : {size_t{1}, size_t{2}, good.size() / 2, good.size() - 1})
        EXPECT_FALSE(KeyedArchive::decode(good.data(), cut)) << cut;
    Data wrongVersion = good;
    wrongVersion[0] = 2;
    EXPECT_FALSE(KeyedArchive::decode(wrongVersion));
    // Untagged JSON, wrong payloads for a tag and bad base64 are refused, not guessed at.
    for (char const* json : {"{\"a\":1}", "[\"i\",\"12\"]", "[\"b\",1]", "[\"x\",\"abc\"]", "[\"x\",\"a b=\"]",
                             "[\"u\",\"99999999999999999999\"]", "[\"u\",-1]", "[\"q\",1]", "[\"n\",1]",
                             "[\"O\",[[\"i\",1],[\"n\"]]]", "[\"c\",\"TestPoint\",{}]"}) {
        Data d{KeyedArchive::kVersion};
        d.insert(d.end(), json, json + std::strlen(json));
        EXPECT_FALSE(KeyedArchive::decode(d)) << json;
    }
    // Flipping any single byte never crashes; most flips are refused.
    size_t refused = 0;
    for (size_t i = 0; i < good.size(); ++i) {
        Data flipped = good;
        flipped[i] ^= 0x5a;
        if (!KeyedArchive::decode(flipped)) ++refused;
    }
    EXPECT_GT(refused, good.size() / 2);
}

TEST(KeyedArchive, FilesReadAsReadMissingUnreadableOrCorrupt) {
    testing_support::TempDir dir;
    auto const path = dir / "a.archive";
    EXPECT_EQ(KeyedArchive::readFromFile(path).status, KeyedArchive::ReadResult::Missing);
    ASSERT_TRUE(KeyedArchive::writeToFile(everyKind(), path));
    auto r = KeyedArchive::readFromFile(path);
    ASSERT_EQ(r.status, KeyedArchive::ReadResult::Read);
    EXPECT_EQ(r.value, everyKind());

    std::ofstream(path, std::ios::trunc) << "\x01[\"i\",";
    EXPECT_EQ(KeyedArchive::readFromFile(path).status, KeyedArchive::ReadResult::Corrupt);
    std::ofstream(path, std::ios::trunc).close();
    EXPECT_EQ(KeyedArchive::readFromFile(path).status, KeyedArchive::ReadResult::Corrupt);

    // Larger than the limit: refused unread (sparse, so the test stays small on disk).
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(KeyedArchive::kMaxSize + 1)), 0);
    EXPECT_EQ(KeyedArchive::readFromFile(path).status, KeyedArchive::ReadResult::Unreadable);
    // A folder in the file's place cannot be read whole either.
    std::filesystem::create_directory(dir / "folder");
    EXPECT_EQ(KeyedArchive::readFromFile(dir / "folder").status, KeyedArchive::ReadResult::Unreadable);
}

TEST(Directories, XdgLayoutRootOverrideAndBackupMark) {
    testing_support::TempDir dir;
    platform::Directories::setRootOverride(dir.path());
    EXPECT_EQ(platform::Directories::applicationSupport(), dir / "data" / "zelv");
    EXPECT_EQ(platform::Directories::caches(), dir / "cache" / "zelv");
    EXPECT_EQ(platform::Directories::library(), dir / "data" / "zelv" / "Library");
    ASSERT_TRUE(platform::Directories::create(platform::Directories::library() / "x"));
    // tmpfs and most Linux file systems take user attributes; where refused the answer is NO.
    bool const marked = platform::Directories::excludeFromBackup(platform::Directories::library());
    EXPECT_EQ(marked, platform::Directories::isExcludedFromBackup(platform::Directories::library()));
    EXPECT_FALSE(platform::Directories::excludeFromBackup(dir / "missing"));
    platform::Directories::setRootOverride(std::nullopt);
    setenv("XDG_DATA_HOME", "relative/ignored", 1);
    setenv("HOME", dir.path().c_str(), 1);
    EXPECT_EQ(platform::Directories::dataHome(), dir / ".local/share");
    setenv("XDG_DATA_HOME", "/abs/data", 1);
    EXPECT_EQ(platform::Directories::applicationSupport(), std::filesystem::path("/abs/data/zelv"));
    unsetenv("XDG_DATA_HOME");
}
