// The DWARF expression evaluator on arbitrary expressions, initial stacks and registers.
#include "analytics/crash/AsyncDwarfExpression.h"
#include "analytics/crash/fuzz/UnwindFuzzSupport.h"

using namespace tlcrash::Tally::async;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    crash_fuzz::Input input(data, size);
    const uint8_t flags = input.take<uint8_t>();
    uint64_t initial[4];
    for (uint64_t& v : initial)
        v = input.take<uint64_t>();
    uint64_t memory[16];
    for (uint64_t& v : memory)
        v = input.take<uint64_t>();
    crash_fuzz::Guarded expression(input.rest(), input.restSize());
    tlcrash_async_mobject mobj;
    if (tlcrash_async_mobject_init(&mobj, tlcrash_async_task_self(), expression.address(), input.restSize(), true) !=
        TLCRASH_ESUCCESS)
        return 0;

    tlcrash_async_thread_state state;
    tlcrash_arm_mcontext64 context{};
    tlcrash_async_thread_state_from_mcontext(&state, &context);
    for (uint32_t reg = 0; reg < 34; ++reg) {
        if (flags & (1u << (reg % 8)))
            tlcrash_async_thread_state_set_reg(&state, reg, reinterpret_cast<uint64_t>(&memory[reg % 16]));
        else
            tlcrash_async_thread_state_clear_reg(&state, reg);
    }
    const size_t count = flags % 5;
    if (flags & 0x80) {
        uint64_t result;
        tlcrash_async_dwarf_expression_eval<uint64_t, int64_t>(&mobj, tlcrash_async_task_self(), &state,
                                                               tlcrash_async_byteorder_native(), expression.address(), 0,
                                                               input.restSize(), initial, count, &result);
    } else {
        uint32_t small[4];
        for (int i = 0; i < 4; ++i)
            small[i] = uint32_t(initial[i]);
        uint32_t result;
        tlcrash_async_dwarf_expression_eval<uint32_t, int32_t>(&mobj, tlcrash_async_task_self(), &state,
                                                               &tlcrash_async_byteorder_swapped, expression.address(), 0,
                                                               input.restSize(), small, count, &result);
    }
    tlcrash_async_mobject_free(&mobj);
    return 0;
}
