#include "analytics/crash/ReportFile.h"
#include "testing/TestPaths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "analytics/crash/tests/ReportDecoding.h"

namespace {

// Encodes one field into a file and returns the bytes that reached it.
struct Output {
    testing_support::TempDir dir;
    std::filesystem::path path = dir / "out";
    report_file file{};
    explicit Output(uint64_t limit = 0) {
        report_file_init(&file, open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644), limit);
    }
    std::vector<uint8_t> bytes() {
        report_file_flush(&file);
        return crash_test::readFile(path);
    }
    ~Output() { report_file_close(&file); }
};

std::vector<uint8_t> encode(uint32_t field, tlcrash_proto_type type, const void* value) {
    Output out;
    const size_t size = writer_pack_field(&out.file, field, type, value);
    auto bytes = out.bytes();
    EXPECT_EQ(size, bytes.size());
    // Sizing without a file gives the same count.
    EXPECT_EQ(writer_pack_field(nullptr, field, type, value), size);
    return bytes;
}

using Bytes = std::vector<uint8_t>;

TEST(CrashReportEncoding, GoldenFields) {
    EXPECT_EQ(encode(1, TLCRASH_PROTO_STRING, "abc"), (Bytes{0x0A, 3, 'a', 'b', 'c'}));
    EXPECT_EQ(encode(1, TLCRASH_PROTO_STRING, ""), (Bytes{0x0A, 0}));
    uint32_t body = 300;
    EXPECT_EQ(encode(6, TLCRASH_PROTO_MESSAGE, &body), (Bytes{0x32, 0xAC, 0x02}));
    int32_t negative = -1;
    EXPECT_EQ(encode(2, TLCRASH_PROTO_INT32, &negative),
              (Bytes{0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}));
    EXPECT_EQ(encode(1, TLCRASH_PROTO_SINT32, &negative), (Bytes{0x08, 0x01}));
    int64_t minusTwo = -2;
    EXPECT_EQ(encode(1, TLCRASH_PROTO_SINT64, &minusTwo), (Bytes{0x08, 0x03}));
    int32_t plusTwo = 2;
    EXPECT_EQ(encode(1, TLCRASH_PROTO_SINT32, &plusTwo), (Bytes{0x08, 0x04}));
    uint64_t big = 0xFFFFFFFFFFFFFFFFULL;
    EXPECT_EQ(encode(3, TLCRASH_PROTO_UINT64, &big).size(), 11u);
    uint32_t fixed = 0x01020304;
    EXPECT_EQ(encode(2, TLCRASH_PROTO_FIXED32, &fixed), (Bytes{0x15, 4, 3, 2, 1}));
    uint64_t fixed64 = 0x0102030405060708ULL;
    EXPECT_EQ(encode(1, TLCRASH_PROTO_FIXED64, &fixed64), (Bytes{0x09, 8, 7, 6, 5, 4, 3, 2, 1}));
    uint8_t yes = 1;
    EXPECT_EQ(encode(6, TLCRASH_PROTO_BOOL, &yes), (Bytes{0x30, 1}));
    const uint8_t raw[3] = {0, 0xFF, 0};
    tlcrash_proto_bytes bytes{3, raw};
    EXPECT_EQ(encode(4, TLCRASH_PROTO_BYTES, &bytes), (Bytes{0x22, 3, 0, 0xFF, 0}));
    // Field numbers past 15 take a two-byte tag.
    uint32_t one = 1;
    EXPECT_EQ(encode(16, TLCRASH_PROTO_UINT32, &one), (Bytes{0x80, 0x01, 0x01}));
}

TEST(CrashReportFile, BuffersFlushesAndLatchesAtTheLimit) {
    {
        Output out;
        std::vector<uint8_t> small(100, 'a');
        ASSERT_TRUE(report_file_write(&out.file, small.data(), small.size()));
        // Still buffered: nothing on disk until the buffer fills or a flush.
        EXPECT_EQ(crash_test::readFile(out.path).size(), 0u);
        std::vector<uint8_t> more(200, 'b');
        ASSERT_TRUE(report_file_write(&out.file, more.data(), more.size()));
        EXPECT_EQ(crash_test::readFile(out.path).size(), 100u);
        std::vector<uint8_t> large(1000, 'c');
        ASSERT_TRUE(report_file_write(&out.file, large.data(), large.size()));
        EXPECT_EQ(crash_test::readFile(out.path).size(), 1300u);
        auto all = out.bytes();
        ASSERT_EQ(all.size(), 1300u);
        EXPECT_EQ(all[99], 'a');
        EXPECT_EQ(all[100], 'b');
        EXPECT_EQ(all[300], 'c');
    }
    {
        // The first refused write fails the file: nothing after it goes in, even if it fits.
        Output out(10);
        ASSERT_TRUE(report_file_write(&out.file, "12345678", 8));
        EXPECT_FALSE(report_file_write(&out.file, "abc", 3));
        EXPECT_FALSE(report_file_write(&out.file, "x", 1));
        EXPECT_TRUE(out.file.failed);
        EXPECT_FALSE(report_file_flush(&out.file));
        EXPECT_EQ(crash_test::readFile(out.path), (Bytes{'1', '2', '3', '4', '5', '6', '7', '8'}));
    }
    {
        // A descriptor that cannot be written fails too.
        report_file file;
        report_file_init(&file, -1, 0);
        EXPECT_TRUE(report_file_write(&file, "abc", 3));
        EXPECT_FALSE(report_file_close(&file));
    }
}

}  // namespace
