// Compact unwind lookup, decoding and application on arbitrary sections, encodings and stacks.
#include "analytics/crash/AsyncCompactUnwind.h"
#include "analytics/crash/fuzz/UnwindFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    crash_fuzz::Input input(data, size);
    static const uint32_t cpus[] = {TLCRASH_CPU_TYPE_ARM64, TLCRASH_CPU_TYPE_X86_64, TLCRASH_CPU_TYPE_X86};
    const uint32_t cpu = cpus[input.take<uint8_t>() % 3];
    uint32_t pcs[4];
    for (uint32_t& pc : pcs)
        pc = input.take<uint32_t>();
    uint64_t stack[64];
    for (uint64_t& word : stack)
        word = input.take<uint64_t>();
    crash_fuzz::Guarded section(input.rest(), input.restSize());

    tlcrash_async_mobject mobj;
    if (tlcrash_async_mobject_init(&mobj, tlcrash_async_task_self(), section.address(), input.restSize(), true) !=
        TLCRASH_ESUCCESS)
        return 0;
    tlcrash_async_compact_unwind_reader reader;
    const bool readable = tlcrash_async_compact_unwind_reader_init(&reader, &mobj, cpu) == TLCRASH_ESUCCESS;
    for (uint32_t pc : pcs) {
        uint32_t function = 0, encoding = pc;
        if (readable)
            tlcrash_async_compact_unwind_reader_find_pc(&reader, pc, &function, &encoding);
        tlcrash_async_compact_unwind_entry entry;
        if (tlcrash_async_compact_unwind_entry_init(&entry, cpu, encoding) != TLCRASH_ESUCCESS)
            continue;
        tlcrash_async_thread_state current, next;
        tlcrash_arm_mcontext64 context{};
        tlcrash_async_thread_state_from_mcontext(&current, &context);
        if (cpu != TLCRASH_CPU_TYPE_ARM64) {
            ucontext_t uc;
            std::memset(&uc, 0, sizeof uc);
            tlcrash_async_thread_state_from_ucontext(&current, &uc);
        }
        for (uint32_t reg = 0; reg < 34 && reg < tlcrash_async_thread_state_reg_count(&current); ++reg)
            tlcrash_async_thread_state_set_reg(&current, reg, reinterpret_cast<uint64_t>(&stack[(pc + reg) % 64]));
        tlcrash_async_compact_unwind_apply(tlcrash_async_task_self(), reinterpret_cast<uint64_t>(stack), &current,
                                           &entry, &next);
    }
    tlcrash_async_mobject_free(&mobj);
    return 0;
}
