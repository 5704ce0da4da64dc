#pragma once
// The registers of one frame, numbered the same way for every processor: 0 is the
// instruction pointer, 1 the frame pointer, 2 the stack pointer.
#include "analytics/crash/AsyncSupport.h"

#include <ucontext.h>

enum : uint32_t {
    TLCRASH_ASYNC_STACK_DIRECTION_UP = 1,
    TLCRASH_ASYNC_STACK_DIRECTION_DOWN = 2,
};

// Register file flavours: the ARM ones keep their kernel numbers; x86-64 has its own.
enum : uint32_t {
    TLCRASH_ARM_THREAD_STATE = 1,
    TLCRASH_X86_THREAD_STATE64 = 4,
    TLCRASH_ARM_THREAD_STATE64 = 6,
    TLCRASH_ARM_THREAD_STATE32 = 9,
};

enum : uint32_t {
    TLCRASH_ARM_THREAD_STATE64_COUNT = 68,
    TLCRASH_ARM_THREAD_STATE32_COUNT = 17,
    TLCRASH_X86_THREAD_STATE64_COUNT = 36,
};

// Generic numbers of the x86-64 register file.
enum : uint32_t {
    TLCRASH_X86_64_RIP = 0,
    TLCRASH_X86_64_RBP = 1,
    TLCRASH_X86_64_RSP = 2,
    TLCRASH_X86_64_RAX = 3,
    TLCRASH_X86_64_RBX = 4,
    TLCRASH_X86_64_RCX = 5,
    TLCRASH_X86_64_RDX = 6,
    TLCRASH_X86_64_RDI = 7,
    TLCRASH_X86_64_RSI = 8,
    TLCRASH_X86_64_R8 = 9,
    TLCRASH_X86_64_R15 = 16,
    TLCRASH_X86_64_RFLAGS = 17,
    TLCRASH_X86_64_REG_COUNT = 18,
};

struct tlcrash_arm_thread_state64 {
    uint64_t x[29];
    uint64_t fp;
    uint64_t lr;
    uint64_t sp;
    uint64_t pc;
    uint32_t cpsr;
    uint32_t pad;
};
static_assert(sizeof(tlcrash_arm_thread_state64) == 272);

struct tlcrash_arm_thread_state32 {
    uint32_t r[13];
    uint32_t sp;
    uint32_t lr;
    uint32_t pc;
    uint32_t cpsr;
};

// Stored in generic order.
struct tlcrash_x86_thread_state64 {
    uint64_t r[TLCRASH_X86_64_REG_COUNT];
};

// The 64-bit ARM machine context a signal handler receives: exception state, then registers.
struct tlcrash_arm_mcontext64 {
    uint64_t far;
    uint32_t esr;
    uint32_t exception;
    tlcrash_arm_thread_state64 ss;
};
static_assert(sizeof(tlcrash_arm_mcontext64) == 16 + 272);

struct tlcrash_async_thread_state {
    uint32_t stack_direction;
    uint64_t greg_size;
    uint64_t valid_regs;
    struct {
        uint32_t flavor;
        uint32_t count;
        union {
            tlcrash_arm_thread_state64 ts_64;
            tlcrash_arm_thread_state32 ts_32;
            tlcrash_x86_thread_state64 x86_64;
        } uts;
    } processor_state;
};

// Reads a thread of the own process; it must be parked by the thread suspension first.
tlcrash_error_t tlcrash_async_thread_state_read_thread(tlcrash_async_thread_state* state, tlcrash_thread_t thread);
void tlcrash_async_thread_state_from_mcontext(tlcrash_async_thread_state* state, const tlcrash_arm_mcontext64* mctx);
// The machine context a Linux signal handler receives, for the processor this build runs on.
void tlcrash_async_thread_state_from_ucontext(tlcrash_async_thread_state* state, const ucontext_t* uap);
void tlcrash_async_thread_state_copy(tlcrash_async_thread_state* dest, const tlcrash_async_thread_state* source);

bool tlcrash_async_thread_state_has_reg(const tlcrash_async_thread_state* state, uint32_t regnum);
void tlcrash_async_thread_state_clear_reg(tlcrash_async_thread_state* state, uint32_t regnum);
void tlcrash_async_thread_state_clear_all_regs(tlcrash_async_thread_state* state);
void tlcrash_async_thread_state_clear_volatile_regs(tlcrash_async_thread_state* state);
uint32_t tlcrash_async_thread_state_stack_direction(const tlcrash_async_thread_state* state);
uint64_t tlcrash_async_thread_state_greg_size(const tlcrash_async_thread_state* state);
uint64_t tlcrash_async_thread_state_get_reg(const tlcrash_async_thread_state* state, uint32_t regnum);
void tlcrash_async_thread_state_set_reg(tlcrash_async_thread_state* state, uint32_t regnum, uint64_t value);
uint32_t tlcrash_async_thread_state_reg_count(const tlcrash_async_thread_state* state);
const char* tlcrash_async_thread_state_reg_name(const tlcrash_async_thread_state* state, uint32_t regnum);
bool tlcrash_async_thread_state_map_dwarf_reg(const tlcrash_async_thread_state* state, uint64_t dwarf_reg,
                                              uint32_t* regnum);

// Captures the calling thread's registers (its own return address as the instruction pointer,
// the caller's frame and stack pointers) and calls back with them.
using tlcrash_async_thread_state_current_callback = tlcrash_error_t (*)(tlcrash_async_thread_state* state,
                                                                       void* context);
extern "C" tlcrash_error_t tlcrash_async_thread_state_current(tlcrash_async_thread_state_current_callback callback,
                                                              void* context);
