// Call-frame sections: scan, CIE and FDE parse, program evaluation and row application.
#include "analytics/crash/AsyncDwarfCfi.h"
#include "analytics/crash/fuzz/UnwindFuzzSupport.h"

using namespace tlcrash::Tally::async;

namespace {

template <typename W, typename S>
void unwind(const tlcrash_async_mobject* mobj, bool debugFrame, uint64_t pc, uint64_t* stack) {
    tlcrash_async_dwarf_cfi_reader reader;
    tlcrash_async_dwarf_cfi_reader_init(&reader, mobj, tlcrash_async_byteorder_native(), sizeof(W) == 8, debugFrame);
    tlcrash_async_dwarf_fde_info fde;
    if (tlcrash_async_dwarf_cfi_reader_find_fde(&reader, 0, W(pc), &fde) != TLCRASH_ESUCCESS)
        return;
    gnu_ehptr_reader<W> ptr(tlcrash_async_byteorder_native());
    tlcrash_async_dwarf_cie_info cie;
    const uint64_t base = tlcrash_async_mobject_base_address(mobj);
    if (tlcrash_async_dwarf_cie_info_init<W>(&cie, mobj, tlcrash_async_byteorder_native(), &ptr, base + fde.cie_offset) !=
        TLCRASH_ESUCCESS)
        return;
    dwarf_cfa_state<W, S> state;
    if (state.eval_program(mobj, W(pc), W(fde.pc_start), &cie, &ptr, tlcrash_async_byteorder_native(), base,
                           cie.initial_instructions_offset, cie.initial_instructions_length) != TLCRASH_ESUCCESS ||
        state.eval_program(mobj, W(pc), W(fde.pc_start), &cie, &ptr, tlcrash_async_byteorder_native(), base,
                           fde.instructions_offset, fde.instructions_length) != TLCRASH_ESUCCESS)
        return;
    for (int processor = 0; processor < 2; ++processor) {
        tlcrash_async_thread_state current, next;
        if (processor == 0) {
            tlcrash_arm_mcontext64 context{};
            tlcrash_async_thread_state_from_mcontext(&current, &context);
        } else {
            ucontext_t uc;
            std::memset(&uc, 0, sizeof uc);
            tlcrash_async_thread_state_from_ucontext(&current, &uc);
        }
        for (uint32_t reg = 0; reg < tlcrash_async_thread_state_reg_count(&current); ++reg)
            tlcrash_async_thread_state_set_reg(&current, reg, reinterpret_cast<uint64_t>(&stack[reg % 32]));
        state.apply_state(tlcrash_async_task_self(), &cie, &current, tlcrash_async_byteorder_native(), &next);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    crash_fuzz::Input input(data, size);
    const uint8_t flags = input.take<uint8_t>();
    const uint64_t pc = input.take<uint32_t>();
    uint64_t stack[32];
    for (uint64_t& word : stack)
        word = input.take<uint64_t>();
    crash_fuzz::Guarded section(input.rest(), input.restSize());
    tlcrash_async_mobject mobj;
    if (tlcrash_async_mobject_init(&mobj, tlcrash_async_task_self(), section.address(), input.restSize(), true) !=
        TLCRASH_ESUCCESS)
        return 0;
    // pc values near the section make pc-relative FDEs cover them now and then.
    const uint64_t target = (flags & 4) ? section.address() + pc % (input.restSize() + 1) : pc;
    if (flags & 1)
        unwind<uint64_t, int64_t>(&mobj, flags & 2, target, stack);
    else
        unwind<uint32_t, int32_t>(&mobj, flags & 2, target, stack);
    tlcrash_async_mobject_free(&mobj);
    return 0;
}
