#include "analytics/crash/AsyncThreadState.h"

#include "analytics/crash/ThreadSuspension.h"

namespace {

bool isArm32(const tlcrash_async_thread_state* state) {
    return state->processor_state.flavor == TLCRASH_ARM_THREAD_STATE32;
}
bool isX86(const tlcrash_async_thread_state* state) {
    return state->processor_state.flavor == TLCRASH_X86_THREAD_STATE64;
}

constexpr const char* arm64Names[34] = {
    "pc",  "fp",  "sp",  "x0",  "x1",  "x2",  "x3",  "x4",  "x5",  "x6",  "x7",  "x8",
    "x9",  "x10", "x11", "x12", "x13", "x14", "x15", "x16", "x17", "x18", "x19", "x20",
    "x21", "x22", "x23", "x24", "x25", "x26", "x27", "x28", "lr",  "cpsr"};
constexpr const char* arm32Names[17] = {"pc", "r7", "sp", "r0", "r1", "r2",  "r3",  "r4",  "r5",
                                        "r6", "r8", "r9", "r10", "r11", "r12", "lr", "cpsr"};
constexpr const char* x86Names[18] = {"rip", "rbp", "rsp", "rax", "rbx", "rcx", "rdx", "rdi", "rsi",
                                      "r8",  "r9",  "r10", "r11", "r12", "r13", "r14", "r15", "rflags"};

// Generic number -> index into r[] of the 32-bit file (sp, lr, pc, cpsr follow r12).
constexpr uint32_t arm32Slot[17] = {15, 7, 13, 0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 14, 16};

// Generic number -> slot of the 64-bit file laid out as 29 x, fp, lr, sp, pc.
uint64_t* arm64Slot(tlcrash_arm_thread_state64& ts, uint32_t regnum) {
    switch (regnum) {
    case 0: return &ts.pc;
    case 1: return &ts.fp;
    case 2: return &ts.sp;
    case 32: return &ts.lr;
    default: return regnum >= 3 && regnum <= 31 ? &ts.x[regnum - 3] : nullptr;
    }
}

}  // namespace

tlcrash_error_t tlcrash_async_thread_state_read_thread(tlcrash_async_thread_state* state, tlcrash_thread_t thread) {
    const ucontext_t* uap = tlcrash_async_thread_suspension_context(thread);
    if (uap == nullptr)
        return TLCRASH_EINTERNAL;
    tlcrash_async_thread_state_from_ucontext(state, uap);
    return TLCRASH_ESUCCESS;
}

void tlcrash_async_thread_state_from_mcontext(tlcrash_async_thread_state* state, const tlcrash_arm_mcontext64* mctx) {
    tlcrash_async_memset(state, 0, sizeof *state);
    state->processor_state.flavor = TLCRASH_ARM_THREAD_STATE64;
    state->processor_state.count = TLCRASH_ARM_THREAD_STATE64_COUNT;
    state->stack_direction = TLCRASH_ASYNC_STACK_DIRECTION_DOWN;
    state->greg_size = 8;
    tlcrash_async_memcpy(&state->processor_state.uts.ts_64, &mctx->ss, sizeof mctx->ss);
    state->valid_regs = ~0ULL;
}

void tlcrash_async_thread_state_from_ucontext(tlcrash_async_thread_state* state, const ucontext_t* uap) {
    tlcrash_async_memset(state, 0, sizeof *state);
    state->stack_direction = TLCRASH_ASYNC_STACK_DIRECTION_DOWN;
    state->greg_size = 8;
#if defined(__x86_64__)
    state->processor_state.flavor = TLCRASH_X86_THREAD_STATE64;
    state->processor_state.count = TLCRASH_X86_THREAD_STATE64_COUNT;
    const greg_t* g = uap->uc_mcontext.gregs;
    uint64_t* r = state->processor_state.uts.x86_64.r;
    r[TLCRASH_X86_64_RIP] = static_cast<uint64_t>(g[REG_RIP]);
    r[TLCRASH_X86_64_RBP] = static_cast<uint64_t>(g[REG_RBP]);
    r[TLCRASH_X86_64_RSP] = static_cast<uint64_t>(g[REG_RSP]);
    r[TLCRASH_X86_64_RAX] = static_cast<uint64_t>(g[REG_RAX]);
    r[TLCRASH_X86_64_RBX] = static_cast<uint64_t>(g[REG_RBX]);
    r[TLCRASH_X86_64_RCX] = static_cast<uint64_t>(g[REG_RCX]);
    r[TLCRASH_X86_64_RDX] = static_cast<uint64_t>(g[REG_RDX]);
    r[TLCRASH_X86_64_RDI] = static_cast<uint64_t>(g[REG_RDI]);
    r[TLCRASH_X86_64_RSI] = static_cast<uint64_t>(g[REG_RSI]);
    const int high[8] = {REG_R8, REG_R9, REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};
    for (int i = 0; i < 8; ++i)
        r[TLCRASH_X86_64_R8 + i] = static_cast<uint64_t>(g[high[i]]);
    r[TLCRASH_X86_64_RFLAGS] = static_cast<uint64_t>(g[REG_EFL]);
    state->valid_regs = (1ULL << TLCRASH_X86_64_REG_COUNT) - 1;
#elif defined(__aarch64__)
    state->processor_state.flavor = TLCRASH_ARM_THREAD_STATE64;
    state->processor_state.count = TLCRASH_ARM_THREAD_STATE64_COUNT;
    tlcrash_arm_thread_state64& ts = state->processor_state.uts.ts_64;
    for (int i = 0; i < 29; ++i)
        ts.x[i] = uap->uc_mcontext.regs[i];
    ts.fp = uap->uc_mcontext.regs[29];
    ts.lr = uap->uc_mcontext.regs[30];
    ts.sp = uap->uc_mcontext.sp;
    ts.pc = uap->uc_mcontext.pc;
    ts.cpsr = static_cast<uint32_t>(uap->uc_mcontext.pstate);
    state->valid_regs = ~0ULL;
#else
#error "no register file for this processor"
#endif
}

void tlcrash_async_thread_state_copy(tlcrash_async_thread_state* dest, const tlcrash_async_thread_state* source) {
    tlcrash_async_memcpy(dest, source, sizeof *dest);
}

bool tlcrash_async_thread_state_has_reg(const tlcrash_async_thread_state* state, uint32_t regnum) {
    return regnum < 64 && (state->valid_regs & (1ULL << regnum)) != 0;
}

void tlcrash_async_thread_state_clear_reg(tlcrash_async_thread_state* state, uint32_t regnum) {
    if (regnum < 64)
        state->valid_regs &= ~(1ULL << regnum);
}

void tlcrash_async_thread_state_clear_all_regs(tlcrash_async_thread_state* state) { state->valid_regs = 0; }

void tlcrash_async_thread_state_clear_volatile_regs(tlcrash_async_thread_state* state) {
    uint64_t keep;
    if (isX86(state)) {
        keep = 1ULL << TLCRASH_X86_64_RBX | 1ULL << TLCRASH_X86_64_RBP;
        for (uint32_t r = 12; r <= 15; ++r)
            keep |= 1ULL << (TLCRASH_X86_64_R8 + r - 8);
    } else if (isArm32(state)) {
        // r4, r5, r6, r7, r8, r10, r11
        keep = 1ULL << 7 | 1ULL << 8 | 1ULL << 9 | 1ULL << 1 | 1ULL << 10 | 1ULL << 12 | 1ULL << 13;
    } else {
        keep = 1ULL << 1;  // fp
        for (uint32_t x = 19; x <= 28; ++x)
            keep |= 1ULL << (x + 3);
    }
    state->valid_regs &= keep;
}

uint32_t tlcrash_async_thread_state_stack_direction(const tlcrash_async_thread_state* state) {
    return state->stack_direction;
}

uint64_t tlcrash_async_thread_state_greg_size(const tlcrash_async_thread_state* state) { return state->greg_size; }

uint64_t tlcrash_async_thread_state_get_reg(const tlcrash_async_thread_state* state, uint32_t regnum) {
    if (isX86(state))
        return regnum < TLCRASH_X86_64_REG_COUNT ? state->processor_state.uts.x86_64.r[regnum] : 0;
    if (isArm32(state)) {
        if (regnum >= 17)
            return 0;
        const auto* words = reinterpret_cast<const uint32_t*>(&state->processor_state.uts.ts_32);
        return words[arm32Slot[regnum]];
    }
    auto& ts = const_cast<tlcrash_arm_thread_state64&>(state->processor_state.uts.ts_64);
    if (regnum == 33)
        return ts.cpsr;
    uint64_t* slot = arm64Slot(ts, regnum);
    return slot ? *slot : 0;
}

void tlcrash_async_thread_state_set_reg(tlcrash_async_thread_state* state, uint32_t regnum, uint64_t value) {
    if (regnum >= tlcrash_async_thread_state_reg_count(state))
        return;
    if (isX86(state)) {
        state->processor_state.uts.x86_64.r[regnum] = value;
    } else if (isArm32(state)) {
        auto* words = reinterpret_cast<uint32_t*>(&state->processor_state.uts.ts_32);
        words[arm32Slot[regnum]] = static_cast<uint32_t>(value);
    } else if (regnum == 33) {
        state->processor_state.uts.ts_64.cpsr = static_cast<uint32_t>(value);
    } else {
        *arm64Slot(state->processor_state.uts.ts_64, regnum) = value;
    }
    state->valid_regs |= 1ULL << regnum;
}

uint32_t tlcrash_async_thread_state_reg_count(const tlcrash_async_thread_state* state) {
    if (isX86(state))
        return TLCRASH_X86_64_REG_COUNT;
    return isArm32(state) ? 17 : 34;
}

const char* tlcrash_async_thread_state_reg_name(const tlcrash_async_thread_state* state, uint32_t regnum) {
    if (regnum >= tlcrash_async_thread_state_reg_count(state))
        return nullptr;
    if (isX86(state))
        return x86Names[regnum];
    return isArm32(state) ? arm32Names[regnum] : arm64Names[regnum];
}

bool tlcrash_async_thread_state_map_dwarf_reg(const tlcrash_async_thread_state* state, uint64_t dwarf_reg,
                                              uint32_t* regnum) {
    struct Entry {
        uint64_t dwarf;
        uint32_t generic;
    };
    static constexpr Entry arm64[32] = {
        {0, 3},   {1, 4},   {2, 5},   {3, 6},   {4, 7},   {5, 8},   {6, 9},   {7, 10},
        {8, 11},  {9, 12},  {10, 13}, {11, 14}, {12, 15}, {13, 16}, {14, 17}, {15, 18},
        {16, 19}, {17, 20}, {18, 21}, {19, 22}, {20, 23}, {21, 24}, {22, 25}, {23, 26},
        {24, 27}, {25, 28}, {26, 29}, {27, 30}, {28, 31}, {29, 1},  {30, 32}, {31, 2}};
    static constexpr Entry arm32[16] = {{0, 3},   {1, 4},   {2, 5},   {3, 6},  {4, 7},   {5, 8},
                                        {6, 9},   {7, 1},   {8, 10},  {9, 11}, {10, 12}, {11, 13},
                                        {12, 14}, {13, 2},  {14, 15}, {15, 0}};
    // DWARF orders x86-64 as rax, rdx, rcx, rbx, rsi, rdi, rbp, rsp, r8-r15, return address.
    static constexpr Entry x86[17] = {{0, 3},  {1, 6},  {2, 5},   {3, 4},   {4, 8},   {5, 7},
                                      {6, 1},  {7, 2},  {8, 9},   {9, 10},  {10, 11}, {11, 12},
                                      {12, 13}, {13, 14}, {14, 15}, {15, 16}, {16, 0}};
    const Entry* table = arm64;
    size_t count = 32;
    if (isX86(state)) {
        table = x86;
        count = 17;
    } else if (isArm32(state)) {
        table = arm32;
        count = 16;
    }
    for (size_t i = 0; i < count; ++i) {
        if (table[i].dwarf == dwarf_reg) {
            *regnum = table[i].generic;
            return true;
        }
    }
    return false;
}

// The caller's view: its return address, frame pointer and stack pointer as they will be
// when this call returns, so a frame-pointer walk starts in the caller.
extern "C" tlcrash_error_t tlcrash_async_thread_state_current_capture(
    const uint64_t* regs, tlcrash_async_thread_state_current_callback callback, void* context) {
    tlcrash_async_thread_state state;
    tlcrash_async_memset(&state, 0, sizeof state);
    state.stack_direction = TLCRASH_ASYNC_STACK_DIRECTION_DOWN;
    state.greg_size = 8;
    state.processor_state.flavor = TLCRASH_X86_THREAD_STATE64;
    state.processor_state.count = TLCRASH_X86_THREAD_STATE64_COUNT;
    tlcrash_async_memcpy(state.processor_state.uts.x86_64.r, regs, sizeof state.processor_state.uts.x86_64.r);
    state.valid_regs = (1ULL << TLCRASH_X86_64_REG_COUNT) - 1;
    return callback(&state, context);
}

#if defined(__x86_64__)
// Registers are stored in generic order on an 18-word block below the frame.
asm(R"(
    .text
    .globl tlcrash_async_thread_state_current
    .type tlcrash_async_thread_state_current,@function
tlcrash_async_thread_state_current:
    .cfi_startproc
    pushq %rbp
    .cfi_def_cfa_offset 16
    .cfi_offset %rbp, -16
    movq %rsp, %rbp
    .cfi_def_cfa_register %rbp
    subq $144, %rsp
    movq %rax, 24(%rsp)
    movq %rbx, 32(%rsp)
    movq %rcx, 40(%rsp)
    movq %rdx, 48(%rsp)
    movq %rdi, 56(%rsp)
    movq %rsi, 64(%rsp)
    movq %r8, 72(%rsp)
    movq %r9, 80(%rsp)
    movq %r10, 88(%rsp)
    movq %r11, 96(%rsp)
    movq %r12, 104(%rsp)
    movq %r13, 112(%rsp)
    movq %r14, 120(%rsp)
    movq %r15, 128(%rsp)
    movq 8(%rbp), %rax
    movq %rax, 0(%rsp)
    movq 0(%rbp), %rax
    movq %rax, 8(%rsp)
    leaq 16(%rbp), %rax
    movq %rax, 16(%rsp)
    pushfq
    popq %rax
    movq %rax, 136(%rsp)
    movq %rsi, %rdx
    movq %rdi, %rsi
    movq %rsp, %rdi
    call tlcrash_async_thread_state_current_capture@PLT
    leave
    .cfi_def_cfa %rsp, 8
    ret
    .cfi_endproc
    .size tlcrash_async_thread_state_current, .-tlcrash_async_thread_state_current
)");
#else
#error "no register capture for this processor"
#endif
