#pragma once
// The DWARF location-expression stack machine, as the call-frame unwinder needs it: a CFA
// computed by an expression, and a register saved at (or equal to) a computed address.
#include "analytics/crash/AsyncDwarfPrimitives.h"
#include "analytics/crash/AsyncThreadState.h"

namespace tlcrash::Tally::async {

// Evaluates the expression at address + offset (length bytes, inside mobj) for the frame
// described by state, starting with initial_count values pushed in order. The result is the
// top of the stack once the expression ends.
template <typename machine_ptr, typename machine_ptr_s>
tlcrash_error_t tlcrash_async_dwarf_expression_eval(const tlcrash_async_mobject* mobj, tlcrash_task_t task,
                                                    const tlcrash_async_thread_state* state,
                                                    const Tallytlcrash_async_byteorder* byteorder, uint64_t address,
                                                    int64_t offset, uint64_t length, const machine_ptr* initial,
                                                    size_t initial_count, machine_ptr* result);

extern template tlcrash_error_t tlcrash_async_dwarf_expression_eval<uint32_t, int32_t>(
    const tlcrash_async_mobject*, tlcrash_task_t, const tlcrash_async_thread_state*,
    const Tallytlcrash_async_byteorder*, uint64_t, int64_t, uint64_t, const uint32_t*, size_t, uint32_t*);
extern template tlcrash_error_t tlcrash_async_dwarf_expression_eval<uint64_t, int64_t>(
    const tlcrash_async_mobject*, tlcrash_task_t, const tlcrash_async_thread_state*,
    const Tallytlcrash_async_byteorder*, uint64_t, int64_t, uint64_t, const uint64_t*, size_t, uint64_t*);

}  // namespace tlcrash::Tally::async
