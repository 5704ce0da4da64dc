#include "analytics/crash/TallyTLCrashReport.h"
#include "analytics/crash/TallyTLCrashReporterError.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "analytics/crash/tests/ReportBuilder.h"

namespace {

using crash_test::ReportBuilder;

// A report with one thread and one image: the least that decodes.
struct Minimal : ReportBuilder {
    Tlcrash__CrashReport__Thread* thread;
    Minimal() {
        thread = addThread(0, true);
        addFrame(thread, 0x100001000);
        addImage(0x100000000, 0x4000, "/app/zelv", 0x100000C, 0);
    }
};

std::string failure(const std::vector<uint8_t>& bytes) {
    platform::Error error;
    auto report = TallyTLCrashReport::initWithData(bytes, &error);
    if (report)
        return "decoded";
    EXPECT_EQ(error.domain, "TLCrashReporterErrorDomain");
    EXPECT_EQ(error.code, 2);
    return *error.userInfo.at("NSLocalizedDescription").string();
}

TEST(CrashReportDecoding, EveryStructuralFaultHasItsMessage) {
    Minimal good;
    auto bytes = good.bytes();
    EXPECT_EQ(failure(bytes), "decoded");
    EXPECT_EQ(failure({}), "Could not decode truncated crash log");
    EXPECT_EQ(failure(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8)), "Could not decode truncated crash log");
    auto badMagic = bytes;
    badMagic[0] = 'T';
    EXPECT_EQ(failure(badMagic), "Could not decode invalid crash log header");
    auto version = bytes;
    version[7] = 2;
    EXPECT_EQ(failure(version), "Could not decode unsupported crash report version: 2");
    EXPECT_EQ(failure({'t', 'l', 'c', 'r', 'a', 's', 'h', 1, 0xFF}), "An unknown error occured decoding the crash report");
    auto truncated = bytes;
    truncated.resize(bytes.size() - 3);
    EXPECT_EQ(failure(truncated), "An unknown error occured decoding the crash report");
    // Without the required signal protobuf-c itself refuses the message.
    Minimal noSignal;
    noSignal.report.signal = nullptr;
    EXPECT_EQ(failure(noSignal.bytes()), "An unknown error occured decoding the crash report");

    const std::pair<std::function<void(Minimal&)>, std::string> cases[] = {
        {[](Minimal& m) { m.setReportUuid(std::vector<uint8_t>(15, 1)); }, "Report UUID value is not a standard 16 bytes"},
        {[](Minimal& m) { m.report.n_threads = 0; }, "Crash report is missing thread state information"},
        {[](Minimal& m) { m.report.n_binary_images = 0; }, "Crash report is missing binary image information"},
        {[](Minimal& m) { m.setMachCodes(1, 256); }, "Crash report includes too many Mach Exception codes"},
    };
    for (const auto& [mutate, message] : cases) {
        Minimal m;
        mutate(m);
        EXPECT_EQ(failure(m.bytes()), message);
    }
    Minimal codes255;
    codes255.setMachCodes(1, 255);
    EXPECT_EQ(failure(codes255.bytes()), "decoded");
}

TEST(CrashReportDecoding, ModelHoldsWhatTheReportSays) {
    Minimal m;
    m.setReportUuid({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    m.application.identifier = const_cast<char*>("bad \xC3\x28 utf8");
    m.addImage(0x200000000, 0x100, "/lib/second", 0x1000007, 3, false, {0xAB, 0x01});
    m.setException("E", "R", {});
    m.setMachCodes(6, 2);
    platform::Error error;
    auto report = TallyTLCrashReport::initWithData(m.bytes(), &error);
    ASSERT_TRUE(report);
    ASSERT_TRUE(report->uuidRef());
    EXPECT_EQ((*report->uuidRef())[15], 15);
    EXPECT_EQ(report->applicationInfo()->applicationIdentifier(), "bad \xEF\xBF\xBD( utf8");
    EXPECT_EQ(report->systemInfo()->timestamp()->secondsSince1970, 1700000000);
    EXPECT_EQ(report->processInfo()->processStartTime()->secondsSince1970, 1699999000);
    EXPECT_EQ(report->machExceptionInfo()->codes(), (std::vector<uint64_t>{7, 7}));
    // An exception recorded without addresses has no frame list at all.
    ASSERT_TRUE(report->hasExceptionInfo());
    EXPECT_FALSE(report->exceptionInfo()->stackFrames());
    ASSERT_EQ(report->images().size(), 2u);
    EXPECT_FALSE(report->images()[0]->hasImageUUID());
    EXPECT_EQ(report->images()[1]->imageUUID(), "ab01");
    EXPECT_FALSE(report->images()[1]->codeType());

    EXPECT_EQ(report->imageForAddress(0x100000000), report->images()[0]);
    EXPECT_EQ(report->imageForAddress(0x100003FFF), report->images()[0]);
    EXPECT_EQ(report->imageForAddress(0x100004000), nullptr);
    EXPECT_EQ(report->imageForAddress(0xFFFFFFFF), nullptr);

    Minimal plain;
    plain.dropProcessInfo();
    plain.dropMachineInfo();
    plain.system.timestamp = 0;
    report = TallyTLCrashReport::initWithData(plain.bytes(), nullptr);
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->uuidRef());
    EXPECT_FALSE(report->hasProcessInfo());
    EXPECT_FALSE(report->hasMachineInfo());
    EXPECT_FALSE(report->systemInfo()->timestamp());
    EXPECT_FALSE(report->machExceptionInfo());
}

}  // namespace
