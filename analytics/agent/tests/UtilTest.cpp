#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <future>
#include <thread>

#include "analytics/agent/TallyUtil.h"
#include "platform/base/Directories.h"
#include "platform/base/KeyedArchive.h"
#include "testing/TestPaths.h"

namespace {

std::string const kPattern = R"(%?\{([A-Za-z0-9_])*\})";

struct LogCapture {
    std::vector<std::string> lines;
    std::mutex mutex;
    LogCapture() {
        TallyUtil::setLogObserver([this](std::string const& l) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(l);
        });
    }
    ~LogCapture() {
        TallyUtil::setLogObserver(nullptr);
        TallyUtil::setLogLevel(1);
        TallyUtil::setShowErrorInLogEnabled(false);
    }
};

}  // namespace

TEST(TallyUtil, ChecksumsDigestsHexAndRanges) {
    Data const abc{'a', 'b', 'c'};
    EXPECT_EQ(static_cast<uint32_t>(TallyUtil::dataChecksum(abc)), 0x352441C2u);
    EXPECT_EQ(TallyUtil::dataChecksum({}), 0);
    EXPECT_EQ(TallyUtil::md5String("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(TallyUtil::hashDataToHexString(TallyUtil::hashData(abc).data(), 20),
              "a9993e364706816aba3e25717850c26c9cd0d89d");

    EXPECT_EQ(TallyUtil::dataFromHexString("0A1b"), (Data{0x0A, 0x1B}));
    EXPECT_EQ(TallyUtil::dataFromHexString("zz12"), (Data{0x12}));
    EXPECT_EQ(TallyUtil::dataFromHexString("abc"), (Data{0xAB}));
    EXPECT_EQ(TallyUtil::dataFromHexString("a"), Data{});
    EXPECT_EQ(TallyUtil::dataFromHexString("1g"), (Data{0x01}));  // a digit followed by a non-digit

    Data const hay{1, 2, 3, 2, 3};
    Data const needle{2, 3}, missing{4}, empty;
    EXPECT_EQ(TallyUtil::tallyRangeOfData(&needle, &hay), (TallyRange{1, 2}));
    EXPECT_EQ(TallyUtil::tallyRangeOfData(&missing, &hay), TallyRange{});
    EXPECT_EQ(TallyUtil::tallyRangeOfData(&empty, &hay), TallyRange{});
    EXPECT_EQ(TallyUtil::tallyRangeOfData(&hay, &needle), TallyRange{});
    EXPECT_EQ(TallyUtil::tallyRangeOfData(nullptr, &hay), TallyRange{});

    std::string const id = TallyUtil::generateCFUUIDBasedUID();
    EXPECT_EQ(id.size(), 38u);
    EXPECT_EQ(id.substr(0, 2), "ID");
    EXPECT_NE(TallyUtil::generateCFUUID(), TallyUtil::generateCFUUID());
}

TEST(TallyUtil, NumbersAndLocations) {
    EXPECT_EQ(TallyUtil::int32FromNSInteger(int64_t{1} << 31), 2147483647);
    EXPECT_EQ(TallyUtil::int32FromNSInteger(-(int64_t{1} << 40)), INT32_MIN);
    EXPECT_EQ(TallyUtil::uint32FromNSUInteger(uint64_t{1} << 32), 0xFFFFFFFFu);
    EXPECT_EQ(TallyUtil::uint32FromNSUInteger(7), 7u);

    EXPECT_EQ(TallyUtil::reduceLocationPrecision(1.23456789, -1), 1.23456789);
    EXPECT_DOUBLE_EQ(TallyUtil::reduceLocationPrecision(37.123456789, 3), 37.123);
    EXPECT_DOUBLE_EQ(TallyUtil::reduceLocationPrecision(-122.98765, 2), -122.98);
    EXPECT_DOUBLE_EQ(TallyUtil::reduceLocationPrecision(-0.019, 2), -0.01);
    // Saturates instead of overflowing the integer step.
    EXPECT_DOUBLE_EQ(TallyUtil::reduceLocationPrecision(1e300, 2), 2147483647 / 100.0);
    EXPECT_EQ(TallyUtil::reduceLocationPrecision(std::nan(""), 2), 0.0);
}

TEST(TallyUtil, UrlTextsAndParameters) {
    std::string header, kv;
    auto d = TallyUtil::createParamKeysDictFromUrlParams("host/path?a=1&b&c=2=3", &header, &kv);
    ASSERT_TRUE(d);
    EXPECT_EQ(header, "host/path");
    EXPECT_EQ(kv, "a=1&b&c=2=3");
    EXPECT_EQ(*d, (Value::Dict{{"a", Value("1")}, {"c", Value("2")}}));
    std::string noQuery;
    std::string untouched = "keep";
    EXPECT_FALSE(TallyUtil::createParamKeysDictFromUrlParams("plain", &noQuery, &untouched));
    EXPECT_EQ(noQuery, "plain");
    EXPECT_EQ(untouched, "keep");

    EXPECT_EQ(TallyUtil::encodeToPercentEscapeString("a b/c?d=é"), "a%20b%2Fc%3Fd%3D%C3%A9");
    EXPECT_EQ(TallyUtil::encodeIllegalCharsToPercentEscapeString("a b/c?d=é"), "a%20b/c?d=%C3%A9");
    EXPECT_EQ(TallyUtil::decodeFromPercentEscapeString("a%20b%2Fc%C3%A9"), "a b/cé");
    EXPECT_FALSE(TallyUtil::decodeFromPercentEscapeString("bad%2"));
    EXPECT_FALSE(TallyUtil::decodeFromPercentEscapeString("%FF"));  // not UTF-8
}

TEST(TallyUtil, SubstitutionFillsOnceAndEndsOnSelfReferences) {
    std::string t = "https://x/%{user}?v={version}&m=%{missing}";
    TallyUtil::substituteParamsInString(&t, {{"%{user}", Value("bob")}, {"{version}", Value(int64_t{3})}}, kPattern);
    EXPECT_EQ(t, "https://x/bob?v=3&m=");

    // A value holding its own placeholder, or another one, is inserted as it stands.
    std::string loop = "a%{x}b%{y}c";
    TallyUtil::substituteParamsInString(&loop, {{"%{x}", Value("<%{x}%{y}>")}, {"%{y}", Value("{z}")}}, kPattern);
    EXPECT_EQ(loop, "a<%{x}%{y}>b{z}c");

    std::string same = "%{x}";
    TallyUtil::substituteParamsInString(&same, {}, "(");  // a pattern that does not compile
    EXPECT_EQ(same, "%{x}");
    TallyUtil::substituteParamsInString(&same, {{"", Value("!")}}, "q*");  // empty matches move on
    EXPECT_EQ(same, "!%!{!x!}!");
    TallyUtil::substituteParamsInString(nullptr, {}, kPattern);

    // A long run that the regex engine would recurse through is left as it is, in a small stack.
    std::string longRun = "%{" + std::string(100000, 'a') + "}";
    std::string const before = longRun;
    std::thread([&] { TallyUtil::substituteParamsInString(&longRun, {}, kPattern); }).join();
    EXPECT_EQ(longRun, before);
    // Just inside the bound the engine still copes on a thread's stack, sanitizers included.
    std::string const name(4000, 'b');
    std::string edge = "%{" + name + "}";
    std::thread([&] { TallyUtil::substituteParamsInString(&edge, {{"%{" + name + "}", Value("ok")}}, kPattern); }).join();
    EXPECT_EQ(edge, "ok");
}

TEST(TallyUtil, LogGateAndExceptionReports) {
    LogCapture capture;
    TallyUtil::setLogLevel(1);
    TallyUtil::log(2, "two");
    TallyUtil::log(1, "one");
    TallyUtil::setLogLevel(0);
    TallyUtil::log(1, "never");
    TallyUtil::log(0, "never either");
    EXPECT_EQ(capture.lines, std::vector<std::string>{"one"});

    capture.lines.clear();
    TallyUtil::setLogLevel(2);
    TallyUtil::guarded([] { throw std::runtime_error("hidden"); });  // errors not shown yet
    EXPECT_TRUE(capture.lines.empty());
    TallyUtil::setShowErrorInLogEnabled(true);
    TallyUtil::guarded([] { throw std::runtime_error("boom"); });
    TallyUtil::handleException(platform::Error{"Domain", 7, {}});
    std::vector<std::string> const want{"Tally: Caught Exception in Tally Analytics Code",
                                        "Tally: -----------------------------------------",
                                        "Tally: Name:std::runtime_error Reason:boom",
                                        "Tally: (null)",
                                        "Tally: Caught Error in Tally Analytics Code",
                                        "Tally: -----------------------------------------",
                                        "Tally: Code:7 Domain:Domain",
                                        "Tally: {}"};
    EXPECT_EQ(capture.lines, want);

    capture.lines.clear();
    TallyUtil::incrementCounter("c");
    TallyUtil::incrementCounter("c");
    TallyUtil::decrementCounter("d", "here");
    EXPECT_EQ(TallyUtil::allCounters(),
              (Value::Dict{{"c", Value(int64_t{2})}, {"d_location_here", Value(int64_t{-1})}}));
    TallyUtil::setLogLevel(1);
    TallyUtil::incrementCounter("c");  // counters only count from level 2
    EXPECT_EQ(TallyUtil::allCounters()["c"], Value(int64_t{2}));
}

TEST(TallyUtil, SafeUnarchiveDeletesOnlyFilesReadWholeThatDoNotDecode) {
    testing_support::TempDir dir;
    auto const path = dir / "map.archive";
    EXPECT_FALSE(TallyUtil::safeUnarchiveObjectWithFile(path));
    EXPECT_FALSE(TallyUtil::safeUnarchiveObjectWithFile(""));

    TallyUtil::archiveDictionary(Value(Value::Dict{{"k", Value(int64_t{1})}}), path);
    auto v = TallyUtil::safeUnarchiveObjectWithFile(path);
    ASSERT_TRUE(v && v->dict());
    EXPECT_EQ(v->find("k")->asInt(), 1);
    TallyUtil::archiveDictionary(Value("not a dictionary"), path);  // ignored
    EXPECT_TRUE(TallyUtil::safeUnarchiveObjectWithFile(path));

    // Truncated: read whole, does not decode: deleted, so the next write starts afresh.
    auto const bytes = platform::KeyedArchive::encode(*v);
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<char const*>(bytes.data()), 5);
    EXPECT_FALSE(TallyUtil::safeUnarchiveObjectWithFile(path));
    EXPECT_FALSE(std::filesystem::exists(path));

    // Empty: read whole, nothing to decode: deleted too.
    std::ofstream(path).close();
    EXPECT_FALSE(TallyUtil::safeUnarchiveObjectWithFile(path));
    EXPECT_FALSE(std::filesystem::exists(path));

    // Cannot be read (too large here; a read error alike): kept for a later, luckier read.
    std::ofstream(path).close();
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(platform::KeyedArchive::kMaxSize + 1)), 0);
    EXPECT_FALSE(TallyUtil::safeUnarchiveObjectWithFile(path));
    EXPECT_TRUE(std::filesystem::exists(path));

    // Writing into a folder that is not there fails with a log line, not a crash.
    TallyUtil::archiveDictionary(Value(Value::Dict{}), dir / "missing" / "x.archive");
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}
