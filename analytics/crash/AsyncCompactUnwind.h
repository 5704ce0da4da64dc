#pragma once
// Compact unwind (__TEXT,__unwind_info, version 1): finding a function's 32-bit encoding,
// decoding it for 64-bit ARM, x86 and x86-64, and computing the caller's frame from it.
#include "analytics/crash/AsyncStackCursor.h"

enum : uint32_t {
    TLCRASH_CPU_TYPE_X86 = 7,
    TLCRASH_CPU_TYPE_X86_64 = 0x01000007,
    TLCRASH_CPU_TYPE_ARM64 = 0x0100000C,
};

struct tlcrash_async_compact_unwind_reader {
    const tlcrash_async_mobject* mobj;
    uint32_t cputype;
    struct {
        uint32_t version;
        uint32_t common_encodings_offset;
        uint32_t common_encodings_count;
        uint32_t personality_offset;
        uint32_t personality_count;
        uint32_t index_offset;
        uint32_t index_count;
    } header;
    const Tallytlcrash_async_byteorder* byteorder;
};

enum tlcrash_async_compact_entry_type : uint32_t {
    TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR = 1,
    TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD = 2,
    TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT = 3,
    TLCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF = 4,
    TLCRASH_ASYNC_CFE_ENTRY_TYPE_NONE = 5,
};

constexpr uint32_t TLCRASH_ASYNC_CFE_SAVED_REGISTER_MAX = 10;
constexpr uint32_t TLCRASH_ASYNC_CFE_NO_REGISTER = UINT32_MAX;

struct tlcrash_async_compact_unwind_entry {
    tlcrash_async_compact_entry_type type;
    uint32_t cputype;
    int64_t stack_value;
    uint32_t stack_adjust;
    uint32_t return_address_register;  // generic number, or all ones when it is on the stack
    uint32_t register_count;
    uint32_t registers[TLCRASH_ASYNC_CFE_SAVED_REGISTER_MAX];
};

tlcrash_error_t tlcrash_async_compact_unwind_reader_init(tlcrash_async_compact_unwind_reader* reader,
                                                         const tlcrash_async_mobject* mobj, uint32_t cputype);
// pc is an offset from the image header; so is the function offset found.
tlcrash_error_t tlcrash_async_compact_unwind_reader_find_pc(const tlcrash_async_compact_unwind_reader* reader,
                                                            uint64_t pc, uint32_t* function_offset,
                                                            uint32_t* encoding);
tlcrash_error_t tlcrash_async_compact_unwind_entry_init(tlcrash_async_compact_unwind_entry* entry, uint32_t cputype,
                                                        uint32_t encoding);
// Register code 1..6 of x86 or x86-64 to its generic number; 0 is an empty slot.
tlcrash_error_t tlcrash_async_compact_unwind_map_register(uint32_t cputype, uint32_t code, uint32_t* regnum);
// Splits a frameless permutation into register codes (count at most 6).
tlcrash_error_t tlcrash_async_compact_unwind_decode_permutation(uint32_t count, uint32_t permutation,
                                                               uint32_t codes[6]);
tlcrash_error_t tlcrash_async_compact_unwind_apply(tlcrash_task_t task, uint64_t function_address,
                                                   const tlcrash_async_thread_state* current,
                                                   const tlcrash_async_compact_unwind_entry* entry,
                                                   tlcrash_async_thread_state* next);

// The compact-unwind unwinder of the stack cursor; caller frames are looked up at pc - 1.
tlcrash_unwind_error_t tlcrash_async_read_compact_unwind_frame(tlcrash_task_t task, tlcrash_async_image_list* images,
                                                              const tlcrash_async_thread_state* current,
                                                              const tlcrash_async_thread_state* previous,
                                                              tlcrash_async_thread_state* next);
