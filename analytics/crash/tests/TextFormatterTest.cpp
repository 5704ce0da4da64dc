#include "analytics/crash/TallyTLCrashReportTextFormatter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analytics/crash/tests/ReportBuilder.h"

namespace {

using crash_test::ReportBuilder;

// A 64-bit report with every section.
struct FullReport : ReportBuilder {
    FullReport() {
        setReportUuid({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF});
        setException("NSInvalidArgumentException", "bad argument", {0x100001010});
        auto* idle = addThread(0, false);
        addFrame(idle, 0x999);  // outside every image
        auto* crashed = addThread(1, true);
        addFrame(crashed, 0x100001234, "_main", 0x100001200);
        addFrame(crashed, 0x100001300, "_", 0x100001280);
        addFrame(crashed, 0x180000000);
        addFrame(crashed, 0x100001000, "_late", 0x100001100);  // start above the pc
        for (const char* name : {"x0", "x1", "x2", "x3", "x4"})
            addRegister(crashed, name, 0x10 + name[1]);
        addImage(0x180000000, 0, "/usr/lib/libz.dylib", 0, 0, false);
        addImage(0x100000000, 0x4000, "/app/zelv", 0x100000C, 0,
                 true, {0xDE, 0xAD, 0xBE, 0xEF, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    }
};

std::string format(const ReportBuilder& builder) {
    auto report = TallyTLCrashReport::initWithData(builder.bytes(), nullptr);
    EXPECT_TRUE(report);
    return report ? TallyTLCrashReportTextFormatter::stringValueForCrashReport(*report, 0) : "";
}

TEST(CrashTextFormatter, FullReportGolden) {
    FullReport r;
    const std::string expected =
        "Incident Identifier: 01234567-89AB-CDEF-0123-456789ABCDEF\n"
        "CrashReporter Key:   TODO\n"
        "Hardware Model:      iPhone7,2\n"
        "Process:         zelv [42]\n"
        "Path:            /app/zelv\n"
        "Identifier:      com.example.zelv\n"
        "Version:         1.2 (7)\n"
        "Code Type:       ARM-64\n"
        "Parent Process:  launchd [1]\n"
        "\n"
        "Date/Time:       2023-11-14 22:13:20 +0000\n"
        "OS Version:      iPhone OS 9.3.5 (13G36)\n"
        "Report Version:  104\n"
        "\n"
        "Exception Type:  SIGSEGV\n"
        "Exception Codes: SEGV_MAPERR at 0x10\n"
        "Crashed Thread:  1\n"
        "\n"
        "Application Specific Information:\n"
        "*** Terminating app due to uncaught exception 'NSInvalidArgumentException', reason: 'bad argument'\n"
        "\n"
        "Last Exception Backtrace:\n"
        "0   zelv                                0x0000000100001010 0x100000000 + 4112\n"
        "\n"
        "Thread 0:\n"
        "0   ???                                 0x0000000000000999 0x0 + 0\n"
        "\n"
        "Thread 1 Crashed:\n"
        "0   zelv                                0x0000000100001234 main + 52\n"
        "1   zelv                                0x0000000100001300 _ + 128\n"
        "2   ???                                 0x0000000180000000 0x0 + 0\n"
        "3   zelv                                0x0000000100001000 late + -256\n"
        "\n"
        "Thread 1 crashed with ARM-64 Thread State:\n"
        "    x0: 0x0000000000000040     x1: 0x0000000000000041     x2: 0x0000000000000042     x3: 0x0000000000000043 \n"
        "    x4: 0x0000000000000044 \n"
        "\n"
        "Binary Images:\n"
        "       0x100000000 -        0x100003fff +zelv arm64  <deadbeef000102030405060708090a0b> /app/zelv\n"
        "       0x180000000 -        0x180000000  libz.dylib ???  <???" "> /usr/lib/libz.dylib\n";
    EXPECT_EQ(format(r), expected);
}

TEST(CrashTextFormatter, MissingSectionsAnd32BitLayout) {
    // Without process info, and without a crashed thread.
    FullReport r;
    r.dropProcessInfo();
    r.report.threads[1]->crashed = 0;
    const std::string text = format(r);
    EXPECT_NE(text.find("Process:         ??? [???]\nPath:            ???\n"), std::string::npos);
    EXPECT_NE(text.find("Parent Process:  ??? [???]\n"), std::string::npos);
    EXPECT_EQ(text.find("Crashed Thread:"), std::string::npos);
    EXPECT_EQ(text.find("Thread State"), std::string::npos);
    EXPECT_NE(text.find("Thread 1:\n"), std::string::npos);
    // The image named like the process path no longer carries "+".
    EXPECT_NE(text.find(" zelv arm64"), std::string::npos);

    ReportBuilder arm;
    arm.processor.type = 12;
    arm.processor.subtype = 9;
    arm.signal.name = const_cast<char*>("#40");
    arm.signal.code = const_cast<char*>("#0");
    arm.signal.address = 0;
    auto* t = arm.addThread(0, true);
    arm.addFrame(t, 0x4010, "_start", 0x4000);
    for (const char* name : {"pc", "r7", "sp", "r12"})
        arm.addRegister(t, name, 0xFF);
    arm.addImage(0x4000, 0x1000, "/app/arm", 12, 9);
    const std::string armText = format(arm);
    EXPECT_NE(armText.find("Code Type:       ARM\n"), std::string::npos);
    EXPECT_NE(armText.find("Exception Codes: #0 at 0x0\n"), std::string::npos);
    EXPECT_NE(armText.find("0   arm                                 0x00004010 start + 16\n"), std::string::npos);
    arm.addFrame(t, 0x4018, "__ZN4zelv5Level4stepEf", 0x4000);  // the platform's prefix, then C++
    EXPECT_NE(format(arm).find(" zelv::Level::step(float) + 24\n"), std::string::npos);
    EXPECT_NE(armText.find("    pc: 0x000000ff     r7: 0x000000ff     sp: 0x000000ff     ip: 0x000000ff \n\n"),
              std::string::npos);
    EXPECT_NE(armText.find("    0x4000 -     0x4fff  arm armv7  <???" "> /app/arm\n"), std::string::npos);

    // Another operating system keeps the underscore and says so.
    std::vector<std::string> logged;
    TallyTLCrashReportTextFormatter::setLogSink([&](const std::string& line) { logged.push_back(line); });
    arm.system.operating_system = TLCRASH__CRASH_REPORT__OPERATING_SYSTEM__OS_UNKNOWN;
    arm.addFrame(t, 0x4020, "_next", 0x4000);  // one warning per report, not per frame
    // C++ names are shown demangled; a name that only looks mangled is shown as it is.
    arm.addFrame(t, 0x4030, "_Z9crashHerePVi", 0x4028);
    arm.addFrame(t, 0x4040, "_Znotmangled", 0x4038);
    const std::string other = format(arm);
    TallyTLCrashReportTextFormatter::setLogSink(nullptr);
    EXPECT_NE(other.find("_start + 16"), std::string::npos);
    EXPECT_NE(other.find(" crashHere(int volatile*) + 8\n"), std::string::npos) << other;
    EXPECT_NE(other.find(" _Znotmangled + 8\n"), std::string::npos) << other;
    EXPECT_NE(other.find("OS Version:      Unknown (3) 9.3.5"), std::string::npos);
    EXPECT_EQ(logged, std::vector<std::string>{"Symbol prefix rules are unknown for this OS!"});
}

TEST(CrashTextFormatter, EncodingsAndImageLabels) {
    FullReport r;
    r.application.identifier = const_cast<char*>("z\xC3\xA9lv \xF0\x9F\x90\xA2");
    r.report.binary_images[1]->name = const_cast<char*>("/app/\xC3\xA9\xC3\xA9");
    auto report = TallyTLCrashReport::initWithData(r.bytes(), nullptr);
    ASSERT_TRUE(report);
    TallyTLCrashReportTextFormatter utf8(TallyTLCrashReportTextFormatiOS, TallyTLCrashReportStringEncodingUTF8);
    TallyTLCrashReportTextFormatter ascii(TallyTLCrashReportTextFormatiOS, TallyTLCrashReportStringEncodingASCII);
    auto utf8Bytes = utf8.formatReport(*report, nullptr);
    auto asciiBytes = ascii.formatReport(*report, nullptr);
    ASSERT_TRUE(utf8Bytes && asciiBytes);
    const std::string utf8Text(utf8Bytes->begin(), utf8Bytes->end());
    const std::string asciiText(asciiBytes->begin(), asciiBytes->end());
    EXPECT_NE(utf8Text.find("Identifier:      z\xC3\xA9lv \xF0\x9F\x90\xA2\n"), std::string::npos);
    EXPECT_NE(asciiText.find("Identifier:      z?lv ?\n"), std::string::npos);
    // Labels are padded by characters, not bytes.
    EXPECT_NE(utf8Text.find("0   \xC3\xA9\xC3\xA9                                  0x"), std::string::npos);
}

}  // namespace
