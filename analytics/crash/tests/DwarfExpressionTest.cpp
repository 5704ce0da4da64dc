// The DWARF expression evaluator: arithmetic, control flow, stack discipline, registers,
// memory reads and the codes for each kind of bad expression.
#include "analytics/crash/AsyncDwarfExpression.h"
#include "analytics/crash/tests/support/UnwindTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tlcrash::Tally::async;
using crash_test::addressOf;
using crash_test::LocalObject;

namespace {

template <typename W, typename S>
tlcrash_error_t eval(std::vector<uint8_t> const& expression, W* result, const tlcrash_async_thread_state* state = nullptr,
                     std::vector<W> const& initial = {}) {
    // The bytes sit in a larger buffer so that no read past the expression can land outside it.
    std::vector<uint8_t> padded(expression);
    padded.resize(expression.size() + 32, 0x96);
    LocalObject mobj(padded);
    tlcrash_async_thread_state empty = crash_test::arm64State();
    return tlcrash_async_dwarf_expression_eval<W, S>(mobj.get(), tlcrash_async_task_self(), state ? state : &empty,
                                                     tlcrash_async_byteorder_native(), mobj.base(), 0,
                                                     expression.size(), initial.data(), initial.size(), result);
}

tlcrash_error_t eval64(std::vector<uint8_t> const& e, uint64_t* r, const tlcrash_async_thread_state* s = nullptr,
                       std::vector<uint64_t> const& initial = {}) {
    return eval<uint64_t, int64_t>(e, r, s, initial);
}

std::vector<uint8_t> bytesOf(uint64_t value, size_t n) {
    std::vector<uint8_t> out(n);
    std::memcpy(out.data(), &value, n);
    return out;
}

struct Case {
    std::string name;
    std::vector<uint8_t> expression;
    tlcrash_error_t code;
    uint64_t result;
};

}  // namespace

TEST(CrashDwarfExpression, OperationsComputeTheirValues) {
    const std::vector<Case> cases = {
        {"lit8 lit3 minus", {0x38, 0x33, 0x1C}, TLCRASH_ESUCCESS, 5},
        {"const1s -2", {0x09, 0xFE}, TLCRASH_ESUCCESS, uint64_t(-2)},
        {"const2s -2", {0x0B, 0xFE, 0xFF}, TLCRASH_ESUCCESS, uint64_t(-2)},
        {"const4s sign-extends", {0x0D, 0xFE, 0xFF, 0xFF, 0xFF}, TLCRASH_ESUCCESS, uint64_t(-2)},
        {"const4u does not", {0x0C, 0xFE, 0xFF, 0xFF, 0xFF}, TLCRASH_ESUCCESS, 0xFFFFFFFEu},
        {"const8u", {0x0E, 1, 2, 3, 4, 5, 6, 7, 8}, TLCRASH_ESUCCESS, 0x0807060504030201ull},
        {"constu 300", {0x10, 0xAC, 0x02}, TLCRASH_ESUCCESS, 300},
        {"consts -129", {0x11, 0xFF, 0x7E}, TLCRASH_ESUCCESS, uint64_t(-129)},
        {"dup plus", {0x35, 0x12, 0x22}, TLCRASH_ESUCCESS, 10},
        {"over", {0x31, 0x32, 0x14}, TLCRASH_ESUCCESS, 1},
        {"pick 2", {0x31, 0x32, 0x33, 0x15, 0x02}, TLCRASH_ESUCCESS, 1},
        {"swap minus", {0x33, 0x38, 0x16, 0x1C}, TLCRASH_ESUCCESS, 5},
        {"rot", {0x31, 0x32, 0x33, 0x17, 0x13, 0x13}, TLCRASH_ESUCCESS, 3},
        {"abs", {0x09, 0xF9, 0x19}, TLCRASH_ESUCCESS, 7},
        {"neg", {0x37, 0x1F}, TLCRASH_ESUCCESS, uint64_t(-7)},
        {"not", {0x30, 0x20}, TLCRASH_ESUCCESS, ~uint64_t(0)},
        {"div is unsigned", {0x09, 0xFF, 0x32, 0x1B}, TLCRASH_ESUCCESS, ~uint64_t(0) / 2},
        {"mod", {0x3B, 0x34, 0x1D}, TLCRASH_ESUCCESS, 3},
        {"mul and or xor", {0x33, 0x35, 0x1E, 0x3C, 0x1A, 0x31, 0x21, 0x32, 0x27}, TLCRASH_ESUCCESS, 15},
        {"plus_uconst", {0x31, 0x23, 0x80, 0x01}, TLCRASH_ESUCCESS, 129},
        {"shl counts modulo 64", {0x31, 0x10, 0x41, 0x24}, TLCRASH_ESUCCESS, 2},
        {"shr is logical", {0x09, 0x80, 0x3C, 0x25}, TLCRASH_ESUCCESS, uint64_t(-128) >> 12},
        {"shra is arithmetic", {0x09, 0x80, 0x33, 0x26}, TLCRASH_ESUCCESS, uint64_t(-16)},
        {"comparisons are unsigned", {0x09, 0xFF, 0x31, 0x2B}, TLCRASH_ESUCCESS, 1},
        {"eq ne", {0x33, 0x33, 0x29, 0x33, 0x34, 0x2E, 0x22}, TLCRASH_ESUCCESS, 2},
        {"lit0 bra does not branch", {0x30, 0x28, 0x01, 0x00, 0x35, 0x36}, TLCRASH_ESUCCESS, 6},
        {"lit1 bra skips forward", {0x37, 0x31, 0x28, 0x01, 0x00, 0x35}, TLCRASH_ESUCCESS, 7},
        {"skip", {0x37, 0x2F, 0x01, 0x00, 0x35}, TLCRASH_ESUCCESS, 7},
        {"nop", {0x34, 0x96}, TLCRASH_ESUCCESS, 4},
        {"lit1 bra before the start", {0x31, 0x28, 0xF0, 0xFF}, TLCRASH_EINVAL, 0},
        {"skip past the end", {0x2F, 0x10, 0x00}, TLCRASH_EINVAL, 0},
        {"lit1 lit0 div", {0x31, 0x30, 0x1B}, TLCRASH_EINVAL, 0},
        {"lit1 lit0 mod", {0x31, 0x30, 0x1D}, TLCRASH_EINVAL, 0},
        {"lit1 drop leaves nothing", {0x31, 0x13}, TLCRASH_EINVAL, 0},
        {"empty expression", {}, TLCRASH_EINVAL, 0},
        {"drop on empty", {0x13}, TLCRASH_EINVAL, 0},
        {"dup on empty", {0x12}, TLCRASH_EINVAL, 0},
        {"over with one entry", {0x31, 0x14}, TLCRASH_EINVAL, 0},
        {"pick below the bottom", {0x31, 0x15, 0x01}, TLCRASH_EINVAL, 0},
        {"swap with one entry", {0x31, 0x16}, TLCRASH_EINVAL, 0},
        {"rot with two entries", {0x31, 0x32, 0x17}, TLCRASH_EINVAL, 0},
        {"xderef with one entry", {0x31, 0x18}, TLCRASH_EINVAL, 0},
        {"plus with one entry", {0x31, 0x22}, TLCRASH_EINTERNAL, 0},
        {"neg on empty", {0x1F}, TLCRASH_EINTERNAL, 0},
        {"reg5 is not supported", {0x55}, TLCRASH_ENOTSUP, 0},
        {"opcode below the range", {0x03}, TLCRASH_ENOTSUP, 0},
        {"opcode above the range", {0x97}, TLCRASH_ENOTSUP, 0},
        {"fbreg is not supported", {0x91, 0x00}, TLCRASH_ENOTSUP, 0},
        {"const4u cut short", {0x0C, 0x01, 0x02}, TLCRASH_EINVAL, 0},
        {"constu cut short", {0x10, 0x80}, TLCRASH_EINVAL, 0},
        {"constu longer than ten bytes", {0x10, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01},
         TLCRASH_EINVAL, 0},
        {"deref_size 3", {0x30, 0x94, 0x03}, TLCRASH_EINVAL, 0},
        {"a branch back to itself ends", {0x31, 0x31, 0x28, 0xFC, 0xFF}, TLCRASH_EINVAL, 0},
    };
    for (Case const& c : cases) {
        uint64_t result = 0;
        EXPECT_EQ(eval64(c.expression, &result), c.code) << c.name;
        if (c.code == TLCRASH_ESUCCESS) {
            EXPECT_EQ(result, c.result) << c.name;
        }
    }
}

TEST(CrashDwarfExpression, WordWidthGovernsValuesAndReads) {
    uint32_t r32 = 0;
    EXPECT_EQ((eval<uint32_t, int32_t>({0x0D, 0xFE, 0xFF, 0xFF, 0xFF}, &r32)), TLCRASH_ESUCCESS);
    EXPECT_EQ(r32, 0xFFFFFFFEu);
    EXPECT_EQ((eval<uint32_t, int32_t>({0x31, 0x08, 0x21, 0x24}, &r32)), TLCRASH_ESUCCESS);
    EXPECT_EQ(r32, 2u) << "shift counts wrap at 32 bits";

    // deref and deref_size read task memory; 8 bytes is too wide for a 32-bit word.
    static uint64_t word = 0x1122334455667788ull;
    std::vector<uint8_t> push = {0x0E};
    auto address = bytesOf(addressOf(&word), 8);
    push.insert(push.end(), address.begin(), address.end());
    uint64_t r64 = 0;
    auto derefSize = [&](uint8_t n) {
        std::vector<uint8_t> e = push;
        e.insert(e.end(), {0x94, n});
        return e;
    };
    EXPECT_EQ(eval64(derefSize(8), &r64), TLCRASH_ESUCCESS);
    EXPECT_EQ(r64, word);
    EXPECT_EQ(eval64(derefSize(2), &r64), TLCRASH_ESUCCESS);
    EXPECT_EQ(r64, 0x7788u);
    std::vector<uint8_t> deref = push;
    deref.push_back(0x06);
    EXPECT_EQ(eval64(deref, &r64), TLCRASH_ESUCCESS);
    EXPECT_EQ(r64, word);
    std::vector<uint8_t> xderef = {0x30};
    xderef.insert(xderef.end(), push.begin(), push.end());
    xderef.insert(xderef.end(), {0x95, 0x04});
    EXPECT_EQ(eval64(xderef, &r64), TLCRASH_ESUCCESS);
    EXPECT_EQ(r64, 0x55667788u);

    static uint32_t low = 0xCAFEF00D;
    std::vector<uint8_t> push32 = {0x0C};
    auto address32 = bytesOf(addressOf(&low), 4);
    push32.insert(push32.end(), address32.begin(), address32.end());
    push32.insert(push32.end(), {0x94, 0x08});
    EXPECT_EQ((eval<uint32_t, int32_t>(push32, &r32)), TLCRASH_EINVAL) << "8 bytes are wider than the word";

    // A read of unmapped memory hands back the memory copy's code.
    EXPECT_EQ(eval64({0x30, 0x06}, &r64), TLCRASH_ENOTFOUND);
}

TEST(CrashDwarfExpression, RegistersAndStackLimits) {
    tlcrash_async_thread_state state = crash_test::arm64State();
    tlcrash_async_thread_state_set_reg(&state, crash_test::arm64X(3), 1000);
    tlcrash_async_thread_state_set_reg(&state, 1, 5000);  // fp, DWARF 29
    uint64_t r = 0;
    EXPECT_EQ(eval64({0x73, 0x7F}, &r, &state), TLCRASH_ESUCCESS);  // breg3 -1
    EXPECT_EQ(r, 999u);
    EXPECT_EQ(eval64({0x92, 0x1D, 0x10}, &r, &state), TLCRASH_ESUCCESS);  // bregx 29 +16
    EXPECT_EQ(r, 5016u);
    EXPECT_EQ(eval64({0x74, 0x00}, &r, &state), TLCRASH_ENOTFOUND) << "x4 is not known in this frame";
    EXPECT_EQ(eval64({0x92, 0x40, 0x00}, &r, &state), TLCRASH_ENOTSUP) << "DWARF 64 maps to nothing";

    // The initial values are pushed in order; the top is the last one.
    EXPECT_EQ(eval64({0x1C}, &r, &state, {10, 3}), TLCRASH_ESUCCESS);
    EXPECT_EQ(r, 7u);

    // A full stack: pushes overflow (6), dup reports misuse (5), more initial values than fit fail.
    std::vector<uint64_t> full(100, 1);
    EXPECT_EQ(eval64({0x31}, &r, &state, full), TLCRASH_EINTERNAL);
    EXPECT_EQ(eval64({0x14}, &r, &state, full), TLCRASH_EINTERNAL) << "over on a full stack";
    EXPECT_EQ(eval64({0x15, 0x00}, &r, &state, full), TLCRASH_EINTERNAL) << "pick on a full stack";
    EXPECT_EQ(eval64({0x12}, &r, &state, full), TLCRASH_EINVAL);
    full.push_back(1);
    EXPECT_EQ(eval64({0x96}, &r, &state, full), TLCRASH_EINTERNAL);
}
