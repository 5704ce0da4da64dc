#include "analytics/crash/TallyTLCrashHostInfo.h"
#include "analytics/crash/TallyTLCrashMachException.h"
#include "analytics/crash/TallyTLCrashProcessInfo.h"
#include "testing/TestPaths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "analytics/crash/tests/ReportDecoding.h"

namespace {

TEST(CrashMachPieces, ExceptionsBecomeSignals) {
    struct Row {
        uint64_t type;
        uint64_t code0;
        int signo;
        int code;
    };
    const Row rows[] = {
        {1, 1, 11, 1}, {1, 2, 10, 2}, {2, 0, 4, 0},      {3, 9, 8, 0},       {4, 0, 7, 0},      {5, 0x10000, 12, 0},
        {5, 0x10001, 13, 0}, {5, 0x10003, 9, 0}, {5, 0x10002, 6, 0}, {6, 0, 5, 1},
    };
    for (const Row& row : rows) {
        const uint64_t codes[2] = {row.code0, 0xBAD};
        int signo = -1, code = -1;
        uint64_t address = 0;
        ASSERT_TRUE(tlcrash_mach_exception_to_signal(row.type, codes, 2, &signo, &code, &address)) << row.type;
        EXPECT_EQ(signo, row.signo) << row.type << " " << row.code0;
        EXPECT_EQ(code, row.code) << row.type;
        EXPECT_EQ(address, 0xBADu);
    }
    const uint64_t codes[2] = {1, 2};
    int signo, code;
    uint64_t address;
    EXPECT_FALSE(tlcrash_mach_exception_to_signal(1, codes, 1, &signo, &code, &address));
    EXPECT_FALSE(tlcrash_mach_exception_to_signal(0, codes, 2, &signo, &code, &address));
    EXPECT_FALSE(tlcrash_mach_exception_to_signal(7, codes, 2, &signo, &code, &address));
}

std::vector<std::string> hostLog;
void keepHostLine(const std::string& line) { hostLog.push_back(line); }

TEST(CrashMachPieces, HostVersionsAndTheExceptionMask) {
    TallyTLCrashHostInfo::setLogSink(keepHostLine);
    auto linux = TallyTLCrashHostInfo::initWithRelease("6.1.0-18-amd64");
    EXPECT_EQ(linux->darwinVersion().major, 6u);
    EXPECT_EQ(linux->darwinVersion().minor, 1u);
    EXPECT_EQ(linux->darwinVersion().revision, 0u);
    EXPECT_TRUE(hostLog.empty());
    EXPECT_EQ(tlcrash_mach_exception_mask(linux.get()), 0x6Eu);
    EXPECT_EQ(tlcrash_mach_exception_mask(TallyTLCrashHostInfo::initWithRelease("13.0.0").get()), 0x106Eu);
    EXPECT_EQ(tlcrash_mach_exception_mask(TallyTLCrashHostInfo::initWithRelease("12.6.9").get()), 0x6Eu);
    EXPECT_EQ(tlcrash_mach_exception_mask(nullptr), 0x6Eu);
    // What scans is kept; the rest is reported.
    auto partial = TallyTLCrashHostInfo::initWithRelease("15.x");
    EXPECT_EQ(partial->darwinVersion().major, 15u);
    EXPECT_EQ(partial->darwinVersion().minor, 0u);
    EXPECT_EQ(hostLog, std::vector<std::string>{"Unexpected kern.osrelease string format: 15.x"});
    EXPECT_EQ(TallyTLCrashHostInfo::initWithRelease("99999999999999999999999.1.1")->darwinVersion().major, 0u);
    auto current = TallyTLCrashHostInfo::currentHostInfo();
    ASSERT_TRUE(current);
    EXPECT_GE(current->darwinVersion().major, 3u);
    TallyTLCrashHostInfo::setLogSink(nullptr);
}

TEST(CrashMachPieces, PortRecordsHoldFourteenEntries) {
    std::vector<TallyTLCrashMachExceptionPort> ports;
    for (uint32_t i = 0; i < 14; ++i)
        ports.emplace_back(100 + i, 1u << i, 1, 7);
    TallyTLCrashMachExceptionPortSet set(ports);
    const auto record = set.asyncSafeRepresentation();
    EXPECT_EQ(record.count, 14u);
    EXPECT_EQ(record.ports[13], 113u);
    EXPECT_EQ(record.masks[3], 8u);
    TallyTLCrashMachExceptionPortSet back(record);
    ASSERT_EQ(back.set().size(), 14u);
    EXPECT_EQ(back.set()[5].server_port(), 105u);
    EXPECT_EQ(back.set()[5].flavor(), 7);
    ports.emplace_back(200, 1, 1, 1);
    EXPECT_THROW(TallyTLCrashMachExceptionPortSet{ports}, std::length_error);
    auto tooMany = record;
    tooMany.count = 15;
    EXPECT_THROW(TallyTLCrashMachExceptionPortSet{tooMany}, std::length_error);
}

std::vector<uint8_t> request(uint32_t size, uint32_t codeCount, size_t bufferSize) {
    std::vector<uint8_t> buffer(bufferSize, 0);
    auto put = [&](size_t at, uint32_t v) { std::memcpy(buffer.data() + at, &v, 4); };
    put(0, 0x80001513);  // complex, remote disposition 0x13
    put(4, size);
    put(8, 0x707);       // reply port
    put(20, 2405);       // id
    put(28, 0x1111);     // thread
    put(40, 0x2222);     // task
    put(60, 1);          // exception type
    put(64, codeCount);
    for (uint32_t i = 0; i < codeCount && 68 + i * 8 + 8 <= bufferSize; ++i) {
        uint64_t code = 0x100 + i;
        std::memcpy(buffer.data() + 68 + i * 8, &code, 8);
    }
    return buffer;
}

TEST(CrashMachPieces, RequestsAndReplies) {
    tlcrash_mach_exception_request parsed{};
    auto ok = request(84, 2, 4096);
    ASSERT_EQ(tlcrash_mach_check_request(ok.data(), ok.size(), &parsed), tlcrash_mach_request_check::Handle);
    EXPECT_EQ(parsed.thread, 0x1111u);
    EXPECT_EQ(parsed.task, 0x2222u);
    EXPECT_EQ(parsed.exception_type, 1);
    EXPECT_EQ(parsed.code_count, 2u);
    uint64_t second;
    std::memcpy(&second, parsed.codes + 8, 8);
    EXPECT_EQ(second, 0x101u);
    auto shortMessage = request(60, 2, 4096);
    EXPECT_EQ(tlcrash_mach_check_request(shortMessage.data(), shortMessage.size(), &parsed),
              tlcrash_mach_request_check::ReplyFailure);
    // A buffer too small for the fixed part is never read past its end.
    EXPECT_EQ(tlcrash_mach_check_request(ok.data(), 40, &parsed), tlcrash_mach_request_check::ReplyFailure);
    auto hugeCount = request(84, 0xFFFFFFFF, 4096);
    EXPECT_EQ(tlcrash_mach_check_request(hugeCount.data(), hugeCount.size(), &parsed), tlcrash_mach_request_check::Drop);
    auto justFits = request(84, (4096 - 76) / 8, 4096);
    EXPECT_EQ(tlcrash_mach_check_request(justFits.data(), justFits.size(), &parsed), tlcrash_mach_request_check::Handle);
    auto oneTooMany = request(84, (4096 - 76) / 8 + 1, 4096);
    EXPECT_EQ(tlcrash_mach_check_request(oneTooMany.data(), oneTooMany.size(), &parsed),
              tlcrash_mach_request_check::Drop);

    uint8_t reply[36];
    tlcrash_mach_build_reply(ok.data(), 5, reply);
    const std::vector<uint8_t> expected = {
        0x13, 0, 0, 0,  36, 0, 0, 0,  0x07, 0x07, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0xC9, 0x09, 0, 0,
        0, 0, 0, 0, 1, 0, 0, 0,  5, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(reply, reply + 36), expected);
}

// A record of the calls a forward makes.
struct Calls {
    std::vector<std::string> made;
    std::vector<int32_t> codes;
    tlcrash_kern_return_t stateResult = 0;
    uint32_t port = 0;
};

tlcrash_mach_forward_calls fakeCalls(Calls* calls) {
    tlcrash_mach_forward_calls f{};
    f.context = calls;
    f.raise = [](tlcrash_mach_port_t port, tlcrash_mach_port_t, tlcrash_mach_port_t, int32_t, const int32_t* codes,
                 uint32_t count, void* context) -> tlcrash_kern_return_t {
        auto* c = static_cast<Calls*>(context);
        c->made.push_back("raise");
        c->port = port;
        c->codes.assign(codes, codes + count);
        return 0;
    };
    f.get_state = [](tlcrash_mach_port_t, int32_t flavor, uint32_t* state, uint32_t* count,
                     void* context) -> tlcrash_kern_return_t {
        auto* c = static_cast<Calls*>(context);
        c->made.push_back("get_state " + std::to_string(flavor));
        state[0] = 42;
        *count = 1;
        return c->stateResult;
    };
    f.raise_state = [](tlcrash_mach_port_t port, int32_t, const int32_t*, uint32_t, int32_t, const uint32_t* state,
                       uint32_t count, void* context) -> tlcrash_kern_return_t {
        auto* c = static_cast<Calls*>(context);
        c->made.push_back("raise_state " + std::to_string(state[0]) + "/" + std::to_string(count));
        c->port = port;
        return 0;
    };
    f.raise_state_identity = [](tlcrash_mach_port_t port, tlcrash_mach_port_t, tlcrash_mach_port_t, int32_t,
                                const int32_t*, uint32_t, int32_t, const uint32_t*, uint32_t,
                                void* context) -> tlcrash_kern_return_t {
        auto* c = static_cast<Calls*>(context);
        c->made.push_back("raise_state_identity");
        c->port = port;
        return 0;
    };
    return f;
}

TEST(CrashMachPieces, ForwardingPicksTheFirstPortThatWantsTheException) {
    tlcrash_mach_port_record record{};
    auto add = [&](uint32_t port, uint32_t mask, int32_t behavior) {
        record.ports[record.count] = port;
        record.masks[record.count] = mask;
        record.behaviors[record.count] = behavior;
        record.flavors[record.count] = 7;
        ++record.count;
    };
    add(TLCRASH_MACH_PORT_NULL, 0xFFFF, TLCRASH_EXCEPTION_DEFAULT);
    add(TLCRASH_MACH_PORT_DEAD, 0xFFFF, TLCRASH_EXCEPTION_DEFAULT);
    add(10, 1u << 2, TLCRASH_EXCEPTION_DEFAULT);
    add(11, 1u << 1, TLCRASH_EXCEPTION_DEFAULT);
    add(12, 1u << 3, TLCRASH_EXCEPTION_STATE);
    add(13, 1u << 5, TLCRASH_EXCEPTION_STATE_IDENTITY);
    add(14, 1u << 6, static_cast<int32_t>(TLCRASH_EXCEPTION_DEFAULT | TLCRASH_MACH_EXCEPTION_CODES));
    add(15, 1u << 4, 9);
    const uint64_t codes[2] = {0x1'0000'0002ULL, 0xFFFFFFFFFFFFFFFFULL};

    Calls calls;
    auto f = fakeCalls(&calls);
    EXPECT_EQ(tlcrash_mach_forward_exception(&record, 1, 2, 1, codes, 2, &f), 0);
    EXPECT_EQ(calls.made, std::vector<std::string>{"raise"});
    EXPECT_EQ(calls.port, 11u);
    EXPECT_EQ(calls.codes, (std::vector<int32_t>{2, -1}));

    calls = {};
    EXPECT_EQ(tlcrash_mach_forward_exception(&record, 1, 2, 3, codes, 2, &f), 0);
    EXPECT_EQ(calls.made, (std::vector<std::string>{"get_state 7", "raise_state 42/1"}));
    calls = {};
    calls.stateResult = 4;
    EXPECT_EQ(tlcrash_mach_forward_exception(&record, 1, 2, 3, codes, 2, &f), 4);
    EXPECT_EQ(calls.made, std::vector<std::string>{"get_state 7"});
    calls = {};
    EXPECT_EQ(tlcrash_mach_forward_exception(&record, 1, 2, 5, codes, 2, &f), 0);
    EXPECT_EQ(calls.made, (std::vector<std::string>{"get_state 7", "raise_state_identity"}));
    // 64-bit codes wanted, an unknown behaviour, nobody asking: not forwarded.
    calls = {};
    EXPECT_EQ(tlcrash_mach_forward_exception(&record, 1, 2, 6, codes, 2, &f), TLCRASH_KERN_FAILURE);
    EXPECT_EQ(tlcrash_mach_forward_exception(&record, 1, 2, 4, codes, 2, &f), TLCRASH_KERN_FAILURE);
    EXPECT_EQ(tlcrash_mach_forward_exception(&record, 1, 2, 12, codes, 2, &f), TLCRASH_KERN_FAILURE);
    EXPECT_EQ(tlcrash_mach_forward_exception(&record, 1, 2, 40, codes, 2, &f), TLCRASH_KERN_FAILURE);
    EXPECT_TRUE(calls.made.empty());
}

TEST(CrashMachPieces, ProcessInfoFromProc) {
    EXPECT_EQ(TallyTLCrashProcessInfo::longestValidUtf8Prefix("z\xC3\xA9lv"), "z\xC3\xA9lv");
    EXPECT_EQ(TallyTLCrashProcessInfo::longestValidUtf8Prefix("ab\xC3"), "ab");
    EXPECT_EQ(TallyTLCrashProcessInfo::longestValidUtf8Prefix("ab\xC3xy"), "ab");
    EXPECT_EQ(TallyTLCrashProcessInfo::longestValidUtf8Prefix("\xEF\xBB\xBFname"), "\xEF\xBB\xBFname");
    EXPECT_EQ(TallyTLCrashProcessInfo::longestValidUtf8Prefix(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(TallyTLCrashProcessInfo::longestValidUtf8Prefix("\xFF" "abc"), "");

    auto self = TallyTLCrashProcessInfo::currentProcessInfo();
    ASSERT_TRUE(self);
    EXPECT_EQ(self->processID(), getpid());
    EXPECT_EQ(self->parentProcessID(), getppid());
    EXPECT_EQ(self->processName(), "crash_report_te");
    EXPECT_LE(self->startTime().seconds, time(nullptr));

    // A child: its own id, us as parent, started no earlier than we did.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        (void)!write(ready[1], "r", 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char c;
    const bool started = read(ready[0], &c, 1) == 1;
    auto info = TallyTLCrashProcessInfo::initWithProcessID(child);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    ASSERT_TRUE(started);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->parentProcessID(), getpid());
    EXPECT_GE(info->startTime().seconds, self->startTime().seconds);
    EXPECT_FALSE(info->isTraced());
    EXPECT_FALSE(TallyTLCrashProcessInfo::initWithProcessID(child));

    // Synthetic texts: a traced process whose name was cut inside a character.
    testing_support::TempDir root;
    std::filesystem::create_directories(root / "5");
    std::ofstream(root / "5" / "stat") << "5 (abcdefghijklm\xC3) S 1 5 5 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 250 0 0\n";
    std::ofstream(root / "5" / "status") << "TracerPid:\t77\n";
    std::ofstream(root / "stat") << "btime 1000\n";
    auto traced = TallyTLCrashProcessInfo::initWithProcessID(5, root.path());
    ASSERT_TRUE(traced);
    EXPECT_TRUE(traced->isTraced());
    EXPECT_EQ(traced->processName(), "abcdefghijklm");
    std::ofstream(root / "5" / "stat") << "5 (\xC3) S 1 5 5 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 250 0 0\n";
    EXPECT_FALSE(TallyTLCrashProcessInfo::initWithProcessID(5, root.path())->processName());
}

}  // namespace
