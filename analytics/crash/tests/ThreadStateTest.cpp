#include "analytics/crash/AsyncStackCursor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/mman.h>
#include <vector>

namespace {

tlcrash_async_thread_state arm64State() {
    tlcrash_arm_mcontext64 mctx{};
    for (int i = 0; i < 29; ++i)
        mctx.ss.x[i] = 0x1000 + static_cast<uint64_t>(i);
    mctx.ss.fp = 0xF0;
    mctx.ss.lr = 0x1E;
    mctx.ss.sp = 0x5B;
    mctx.ss.pc = 0xBC;
    mctx.ss.cpsr = 0x60000000;
    mctx.far = 0xDEAD;
    tlcrash_async_thread_state state;
    tlcrash_async_thread_state_from_mcontext(&state, &mctx);
    return state;
}

tlcrash_async_thread_state arm32State() {
    tlcrash_async_thread_state state{};
    state.stack_direction = TLCRASH_ASYNC_STACK_DIRECTION_DOWN;
    state.greg_size = 4;
    state.processor_state.flavor = TLCRASH_ARM_THREAD_STATE32;
    state.processor_state.count = TLCRASH_ARM_THREAD_STATE32_COUNT;
    return state;
}

std::vector<std::string> names(const tlcrash_async_thread_state& state) {
    std::vector<std::string> out;
    for (uint32_t r = 0; r < tlcrash_async_thread_state_reg_count(&state); ++r)
        out.emplace_back(tlcrash_async_thread_state_reg_name(&state, r));
    return out;
}

TEST(CrashThreadState, Arm64FromMachineContextNumbersAndPreservedSet) {
    tlcrash_async_thread_state state = arm64State();
    EXPECT_EQ(tlcrash_async_thread_state_reg_count(&state), 34u);
    EXPECT_EQ(tlcrash_async_thread_state_greg_size(&state), 8u);
    EXPECT_EQ(tlcrash_async_thread_state_stack_direction(&state), TLCRASH_ASYNC_STACK_DIRECTION_DOWN);
    // The exception-state part is skipped: the registers start after it.
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 0), 0xBCu);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 1), 0xF0u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 2), 0x5Bu);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 3), 0x1000u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 31), 0x1000u + 28);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 32), 0x1Eu);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 33), 0x60000000u);
    auto n = names(state);
    EXPECT_EQ(n[0], "pc");
    EXPECT_EQ(n[1], "fp");
    EXPECT_EQ(n[3], "x0");
    EXPECT_EQ(n[31], "x28");
    EXPECT_EQ(n[32], "lr");
    EXPECT_EQ(n[33], "cpsr");

    tlcrash_async_thread_state_clear_volatile_regs(&state);
    std::vector<uint32_t> kept;
    for (uint32_t r = 0; r < 64; ++r)
        if (tlcrash_async_thread_state_has_reg(&state, r))
            kept.push_back(r);
    std::vector<uint32_t> expected{1};
    for (uint32_t x = 19; x <= 28; ++x)
        expected.push_back(x + 3);
    EXPECT_EQ(kept, expected);

    uint32_t regnum = 0;
    EXPECT_TRUE(tlcrash_async_thread_state_map_dwarf_reg(&state, 29, &regnum));
    EXPECT_EQ(regnum, 1u);
    EXPECT_TRUE(tlcrash_async_thread_state_map_dwarf_reg(&state, 30, &regnum));
    EXPECT_EQ(regnum, 32u);
    EXPECT_TRUE(tlcrash_async_thread_state_map_dwarf_reg(&state, 31, &regnum));
    EXPECT_EQ(regnum, 2u);
    EXPECT_TRUE(tlcrash_async_thread_state_map_dwarf_reg(&state, 19, &regnum));
    EXPECT_EQ(regnum, 22u);
    EXPECT_FALSE(tlcrash_async_thread_state_map_dwarf_reg(&state, 32, &regnum));
}

TEST(CrashThreadState, Arm32NamesWidthAndMaps) {
    tlcrash_async_thread_state state = arm32State();
    EXPECT_EQ(names(state), (std::vector<std::string>{"pc", "r7", "sp", "r0", "r1", "r2", "r3", "r4", "r5", "r6", "r8",
                                                      "r9", "r10", "r11", "r12", "lr", "cpsr"}));
    // Values are cut to 32 bits; r7 is the frame pointer.
    tlcrash_async_thread_state_set_reg(&state, 1, 0x1'2345'6789ULL);
    EXPECT_EQ(state.processor_state.uts.ts_32.r[7], 0x23456789u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 1), 0x23456789u);
    tlcrash_async_thread_state_set_reg(&state, 0, 0xAAAA);
    EXPECT_EQ(state.processor_state.uts.ts_32.pc, 0xAAAAu);
    tlcrash_async_thread_state_set_reg(&state, 15, 0xBBBB);
    EXPECT_EQ(state.processor_state.uts.ts_32.lr, 0xBBBBu);

    for (uint32_t r = 0; r < 17; ++r)
        tlcrash_async_thread_state_set_reg(&state, r, r);
    tlcrash_async_thread_state_clear_volatile_regs(&state);
    std::vector<std::string> kept;
    for (uint32_t r = 0; r < 17; ++r)
        if (tlcrash_async_thread_state_has_reg(&state, r))
            kept.emplace_back(tlcrash_async_thread_state_reg_name(&state, r));
    EXPECT_EQ(kept, (std::vector<std::string>{"r7", "r4", "r5", "r6", "r8", "r10", "r11"}));

    uint32_t regnum = 0;
    EXPECT_TRUE(tlcrash_async_thread_state_map_dwarf_reg(&state, 7, &regnum));
    EXPECT_EQ(regnum, 1u);
    EXPECT_TRUE(tlcrash_async_thread_state_map_dwarf_reg(&state, 15, &regnum));
    EXPECT_EQ(regnum, 0u);
    EXPECT_TRUE(tlcrash_async_thread_state_map_dwarf_reg(&state, 14, &regnum));
    EXPECT_EQ(regnum, 15u);
    EXPECT_FALSE(tlcrash_async_thread_state_map_dwarf_reg(&state, 16, &regnum));
}

TEST(CrashThreadState, X86FromUcontextAndDwarfMap) {
    ucontext_t uc{};
    for (int i = 0; i < NGREG; ++i)
        uc.uc_mcontext.gregs[i] = 0x100 + i;
    tlcrash_async_thread_state state;
    tlcrash_async_thread_state_from_ucontext(&state, &uc);
    EXPECT_EQ(tlcrash_async_thread_state_reg_count(&state), 18u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, TLCRASH_X86_64_RIP), 0x100u + REG_RIP);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, TLCRASH_X86_64_RBP), 0x100u + REG_RBP);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, TLCRASH_X86_64_RSP), 0x100u + REG_RSP);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, TLCRASH_X86_64_R15), 0x100u + REG_R15);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, TLCRASH_X86_64_RFLAGS), 0x100u + REG_EFL);
    EXPECT_EQ(names(state).back(), "rflags");
    EXPECT_EQ(names(state)[9], "r8");

    tlcrash_async_thread_state_clear_volatile_regs(&state);
    std::vector<std::string> kept;
    for (uint32_t r = 0; r < 18; ++r)
        if (tlcrash_async_thread_state_has_reg(&state, r))
            kept.emplace_back(tlcrash_async_thread_state_reg_name(&state, r));
    EXPECT_EQ(kept, (std::vector<std::string>{"rbp", "rbx", "r12", "r13", "r14", "r15"}));

    const char* dwarfNames[17] = {"rax", "rdx", "rcx", "rbx", "rsi", "rdi", "rbp", "rsp", "r8",
                                  "r9",  "r10", "r11", "r12", "r13", "r14", "r15", "rip"};
    for (uint64_t d = 0; d < 17; ++d) {
        uint32_t regnum = 99;
        ASSERT_TRUE(tlcrash_async_thread_state_map_dwarf_reg(&state, d, &regnum));
        EXPECT_STREQ(tlcrash_async_thread_state_reg_name(&state, regnum), dwarfNames[d]);
    }
    uint32_t regnum;
    EXPECT_FALSE(tlcrash_async_thread_state_map_dwarf_reg(&state, 17, &regnum));
}

// A fake downward stack of {saved fp, return address} records in our own memory.
struct FakeStack {
    std::vector<uint64_t> words = std::vector<uint64_t>(64, 0);
    uint64_t at(size_t index) { return reinterpret_cast<uint64_t>(&words[index]); }
    void link(size_t index, uint64_t callerFp, uint64_t returnAddress) {
        words[index] = callerFp;
        words[index + 1] = returnAddress;
    }
};

std::vector<uint64_t> walk(tlcrash_async_thread_state state, tlcrash_unwind_error_t* last, size_t limit = 512) {
    tlcrash_async_stack_cursor cursor;
    tlcrash_async_stack_cursor_init(&cursor, tlcrash_async_task_self(), &state, nullptr);
    std::vector<uint64_t> pcs;
    tlcrash_unwind_error_t err;
    while ((err = tlcrash_async_stack_cursor_next(&cursor)) == TLCRASH_UNWIND_ESUCCESS && pcs.size() < limit) {
        uint64_t pc = 0;
        EXPECT_EQ(tlcrash_async_stack_cursor_get_reg(&cursor, 0, &pc), TLCRASH_UNWIND_ESUCCESS);
        pcs.push_back(pc);
    }
    tlcrash_async_stack_cursor_free(&cursor);
    *last = err;
    return pcs;
}

TEST(CrashStackCursor, Arm64FramePointerChainsEndWithTheirCodes) {
    FakeStack stack;
    tlcrash_async_thread_state start = arm64State();
    tlcrash_unwind_error_t last;

    // A good chain: 0 -> 4 -> 8 (equal fp accepted once) -> end by null fp.
    stack.link(0, stack.at(4), 0x40000);
    stack.link(4, stack.at(8), 0x40010);
    stack.link(8, 0, 0x40020);
    tlcrash_async_thread_state_set_reg(&start, 1, stack.at(0));
    EXPECT_EQ(walk(start, &last), (std::vector<uint64_t>{0xBC, 0x40000, 0x40010, 0x40020}));
    EXPECT_EQ(last, TLCRASH_UNWIND_NO_FRAME);

    // A frame that leads back to itself ends the walk rather than filling it with copies.
    stack.link(8, stack.at(8), 0x40020);
    EXPECT_EQ(walk(start, &last, 20), (std::vector<uint64_t>{0xBC, 0x40000, 0x40010, 0x40020}));
    EXPECT_EQ(last, TLCRASH_UNWIND_NO_FRAME);

    // A link that points back down the stack is a bad frame.
    stack.link(8, stack.at(2), 0x40020);
    stack.link(2, stack.at(30), 0x40030);
    EXPECT_EQ(walk(start, &last).size(), 4u);
    EXPECT_EQ(last, TLCRASH_UNWIND_BAD_FRAME);

    // A return into the zero page ends the walk.
    stack.link(4, stack.at(8), tlcrash_async_page_size());
    EXPECT_EQ(walk(start, &last), (std::vector<uint64_t>{0xBC, 0x40000}));
    EXPECT_EQ(last, TLCRASH_UNWIND_NO_FRAME);

    // An unreadable frame pointer is a bad frame; a null one ends at the first frame.
    tlcrash_async_thread_state_set_reg(&start, 1, 8);
    EXPECT_EQ(walk(start, &last).size(), 1u);
    EXPECT_EQ(last, TLCRASH_UNWIND_BAD_FRAME);
    tlcrash_async_thread_state_set_reg(&start, 1, 0);
    EXPECT_EQ(walk(start, &last).size(), 1u);
    EXPECT_EQ(last, TLCRASH_UNWIND_NO_FRAME);
}

TEST(CrashStackCursor, StepsKeepOnlyWhatTheyKnow) {
    FakeStack stack;
    stack.link(0, stack.at(4), 0x40000);
    tlcrash_async_thread_state start = arm64State();
    tlcrash_async_thread_state_set_reg(&start, 1, stack.at(0));
    tlcrash_async_stack_cursor cursor;
    tlcrash_async_stack_cursor_init(&cursor, tlcrash_async_task_self(), &start, nullptr);
    ASSERT_EQ(tlcrash_async_stack_cursor_next(&cursor), TLCRASH_UNWIND_ESUCCESS);
    uint64_t value = 0;
    // The first frame is the initial state, untouched.
    EXPECT_EQ(std::memcmp(&cursor.frame, &start, sizeof start), 0);
    EXPECT_EQ(tlcrash_async_stack_cursor_get_reg(&cursor, 2, &value), TLCRASH_UNWIND_ESUCCESS);
    EXPECT_EQ(value, 0x5Bu);
    ASSERT_EQ(tlcrash_async_stack_cursor_next(&cursor), TLCRASH_UNWIND_ESUCCESS);
    EXPECT_EQ(tlcrash_async_stack_cursor_get_reg(&cursor, 2, &value), TLCRASH_UNWIND_NOT_SUPPORTED);
    EXPECT_EQ(tlcrash_async_stack_cursor_get_reg(&cursor, 1, &value), TLCRASH_UNWIND_ESUCCESS);
    EXPECT_EQ(value, stack.at(4));
    EXPECT_EQ(tlcrash_async_stack_cursor_get_regcount(&cursor), 34u);
    EXPECT_EQ(tlcrash_async_stack_cursor_next_using(&cursor, nullptr, 0), TLCRASH_UNWIND_INVALID);
}

TEST(CrashStackCursor, X86StepsFindTheCallersStack) {
    // Frameless callers need the caller's rsp: just above the saved rbp and return address.
    FakeStack stack;
    stack.link(0, stack.at(6), 0x40000);
    ucontext_t uc{};
    uc.uc_mcontext.gregs[REG_RIP] = 0x30000;
    uc.uc_mcontext.gregs[REG_RBP] = static_cast<greg_t>(stack.at(0));
    tlcrash_async_thread_state start;
    tlcrash_async_thread_state_from_ucontext(&start, &uc);
    tlcrash_async_stack_cursor cursor;
    tlcrash_async_stack_cursor_init(&cursor, tlcrash_async_task_self(), &start, nullptr);
    ASSERT_EQ(tlcrash_async_stack_cursor_next(&cursor), TLCRASH_UNWIND_ESUCCESS);
    ASSERT_EQ(tlcrash_async_stack_cursor_next(&cursor), TLCRASH_UNWIND_ESUCCESS);
    uint64_t value = 0;
    EXPECT_EQ(tlcrash_async_stack_cursor_get_reg(&cursor, TLCRASH_X86_64_RSP, &value), TLCRASH_UNWIND_ESUCCESS);
    EXPECT_EQ(value, stack.at(2));
    EXPECT_EQ(tlcrash_async_stack_cursor_get_reg(&cursor, TLCRASH_X86_64_RBX, &value), TLCRASH_UNWIND_NOT_SUPPORTED);
    EXPECT_EQ(tlcrash_async_stack_cursor_get_regcount(&cursor), 18u);
}

TEST(CrashStackCursor, Arm32ReadsHalfWordRecords) {
    // 32-bit frame pointers need memory below 4 GiB.
    void* low = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    ASSERT_NE(low, MAP_FAILED);
    auto* words = static_cast<uint32_t*>(low);
    const auto base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(low));
    words[0] = base + 16;
    words[1] = 0x30000;
    words[4] = 0;
    words[5] = 0x30010;
    tlcrash_async_thread_state start = arm32State();
    tlcrash_async_thread_state_set_reg(&start, 0, 0x2000);
    tlcrash_async_thread_state_set_reg(&start, 1, base);
    tlcrash_unwind_error_t last;
    EXPECT_EQ(walk(start, &last), (std::vector<uint64_t>{0x2000, 0x30000, 0x30010}));
    EXPECT_EQ(last, TLCRASH_UNWIND_NO_FRAME);
    munmap(low, 4096);
}

// Real x86-64 frames: nested functions capture their own registers and walk back out.
struct Captured {
    std::vector<uint64_t> pcs;
    uint64_t rsp = 0;
    uint64_t rbp = 0;
};

tlcrash_error_t collect(tlcrash_async_thread_state* state, void* context) {
    auto* out = static_cast<Captured*>(context);
    out->rsp = tlcrash_async_thread_state_get_reg(state, TLCRASH_X86_64_RSP);
    out->rbp = tlcrash_async_thread_state_get_reg(state, TLCRASH_X86_64_RBP);
    tlcrash_unwind_error_t last;
    out->pcs = walk(*state, &last, 64);
    return TLCRASH_ESUCCESS;
}

__attribute__((noinline)) void innermost(Captured* out) {
    tlcrash_async_thread_state_current(collect, out);
    asm volatile("" ::: "memory");
}
__attribute__((noinline)) void middle(Captured* out) {
    innermost(out);
    asm volatile("" ::: "memory");
}
__attribute__((noinline)) void outer(Captured* out) {
    middle(out);
    asm volatile("" ::: "memory");
}

bool within(uint64_t pc, void (*fn)(Captured*)) {
    auto start = reinterpret_cast<uint64_t>(fn);
    return pc > start && pc < start + 256;
}

TEST(CrashStackCursor, X86CapturesTheCallerAndWalksItsFrames) {
    Captured out;
    outer(&out);
    ASSERT_GE(out.pcs.size(), 4u);
    EXPECT_TRUE(within(out.pcs[0], innermost));
    EXPECT_TRUE(within(out.pcs[1], middle));
    EXPECT_TRUE(within(out.pcs[2], outer));
    // The captured stack pointer is the caller's after the call returns: inside its frame.
    EXPECT_LE(out.rsp, out.rbp);
}

}  // namespace
