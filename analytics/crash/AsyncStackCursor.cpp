#include "analytics/crash/AsyncStackCursor.h"

#include "analytics/crash/AsyncCompactUnwind.h"
#include "analytics/crash/AsyncDwarfCfi.h"

tlcrash_unwind_error_t tlcrash_async_stack_cursor_init(tlcrash_async_stack_cursor* cursor, tlcrash_task_t task,
                                                       const tlcrash_async_thread_state* initial_state,
                                                       tlcrash_async_image_list* image_list) {
    cursor->task = task;
    cursor->image_list = image_list;
    cursor->depth = 0;
    tlcrash_async_memset(&cursor->prev_frame, 0, sizeof cursor->prev_frame);
    tlcrash_async_thread_state_copy(&cursor->frame, initial_state);
    return TLCRASH_UNWIND_ESUCCESS;
}

tlcrash_unwind_error_t tlcrash_async_stack_cursor_next_using(tlcrash_async_stack_cursor* cursor,
                                                             const tlcrash_async_unwinder* unwinders, size_t count) {
    if (cursor->depth == 0) {
        cursor->depth = 1;
        return TLCRASH_UNWIND_ESUCCESS;
    }
    if (count == 0)
        return TLCRASH_UNWIND_INVALID;
    tlcrash_async_thread_state next;
    tlcrash_unwind_error_t result = TLCRASH_UNWIND_INVALID;
    const tlcrash_async_thread_state* previous = cursor->depth >= 2 ? &cursor->prev_frame : nullptr;
    for (size_t i = 0; i < count; ++i) {
        tlcrash_async_memset(&next, 0, sizeof next);
        result = unwinders[i](cursor->task, cursor->image_list, &cursor->frame, previous, &next);
        if (result == TLCRASH_UNWIND_ESUCCESS)
            break;
    }
    if (result != TLCRASH_UNWIND_ESUCCESS)
        return result;
    if (!tlcrash_async_thread_state_has_reg(&next, 0))
        return TLCRASH_UNWIND_NO_FRAME;
    // A return into the zero page is the end of the stack, not a frame.
    if (tlcrash_async_thread_state_get_reg(&next, 0) <= tlcrash_async_page_size())
        return TLCRASH_UNWIND_NO_FRAME;
    // A step back onto the frame it started from would repeat that frame to the end of the
    // walk: the same pc with the same stack pointer (or, without one, frame pointer) ends it.
    auto same = [&](uint32_t regnum) {
        return tlcrash_async_thread_state_has_reg(&next, regnum) &&
               tlcrash_async_thread_state_has_reg(&cursor->frame, regnum) &&
               tlcrash_async_thread_state_get_reg(&next, regnum) ==
                   tlcrash_async_thread_state_get_reg(&cursor->frame, regnum);
    };
    const bool bothHaveSp =
        tlcrash_async_thread_state_has_reg(&next, 2) && tlcrash_async_thread_state_has_reg(&cursor->frame, 2);
    if (same(0) && (bothHaveSp ? same(2) : same(1)))
        return TLCRASH_UNWIND_NO_FRAME;
    tlcrash_async_thread_state_copy(&cursor->prev_frame, &cursor->frame);
    tlcrash_async_thread_state_copy(&cursor->frame, &next);
    cursor->depth++;
    return TLCRASH_UNWIND_ESUCCESS;
}

tlcrash_unwind_error_t tlcrash_async_stack_cursor_next(tlcrash_async_stack_cursor* cursor) {
    static constexpr tlcrash_async_unwinder unwinders[] = {
        tlcrash_async_read_compact_unwind_frame, tlcrash_async_read_dwarf_frame, tlcrash_async_unwind_with_fp};
    return tlcrash_async_stack_cursor_next_using(cursor, unwinders, sizeof unwinders / sizeof unwinders[0]);
}

tlcrash_unwind_error_t tlcrash_async_stack_cursor_get_reg(const tlcrash_async_stack_cursor* cursor, uint32_t regnum,
                                                          uint64_t* value) {
    if (!tlcrash_async_thread_state_has_reg(&cursor->frame, regnum))
        return TLCRASH_UNWIND_NOT_SUPPORTED;
    *value = tlcrash_async_thread_state_get_reg(&cursor->frame, regnum);
    return TLCRASH_UNWIND_ESUCCESS;
}

const char* tlcrash_async_stack_cursor_get_regname(const tlcrash_async_stack_cursor* cursor, uint32_t regnum) {
    return tlcrash_async_thread_state_reg_name(&cursor->frame, regnum);
}

uint32_t tlcrash_async_stack_cursor_get_regcount(const tlcrash_async_stack_cursor* cursor) {
    return tlcrash_async_thread_state_reg_count(&cursor->frame);
}

void tlcrash_async_stack_cursor_free(tlcrash_async_stack_cursor* cursor) { cursor->task = 0; }

tlcrash_unwind_error_t tlcrash_async_unwind_with_fp(tlcrash_task_t task, tlcrash_async_image_list*,
                                                    const tlcrash_async_thread_state* current,
                                                    const tlcrash_async_thread_state* previous,
                                                    tlcrash_async_thread_state* next) {
    const bool wide = tlcrash_async_thread_state_greg_size(current) == 8;
    if (!tlcrash_async_thread_state_has_reg(current, 1))
        return TLCRASH_UNWIND_BAD_FRAME;
    const uint64_t fp = tlcrash_async_thread_state_get_reg(current, 1);
    if (fp == 0)
        return TLCRASH_UNWIND_NO_FRAME;
    if (previous != nullptr && tlcrash_async_thread_state_has_reg(previous, 1)) {
        const uint64_t previousFp = tlcrash_async_thread_state_get_reg(previous, 1);
        const uint32_t direction = tlcrash_async_thread_state_stack_direction(current);
        if (direction == TLCRASH_ASYNC_STACK_DIRECTION_DOWN && fp < previousFp)
            return TLCRASH_UNWIND_BAD_FRAME;
        if (direction == TLCRASH_ASYNC_STACK_DIRECTION_UP && fp > previousFp)
            return TLCRASH_UNWIND_BAD_FRAME;
    }
    uint64_t callerFp;
    uint64_t returnAddress;
    if (wide) {
        uint64_t words[2];
        if (tlcrash_async_task_memcpy(task, fp, 0, words, sizeof words) != TLCRASH_ESUCCESS)
            return TLCRASH_UNWIND_BAD_FRAME;
        callerFp = words[0];
        returnAddress = words[1];
    } else {
        uint32_t words[2];
        if (tlcrash_async_task_memcpy(task, fp, 0, words, sizeof words) != TLCRASH_ESUCCESS)
            return TLCRASH_UNWIND_BAD_FRAME;
        callerFp = words[0];
        returnAddress = words[1];
    }
    tlcrash_async_thread_state_copy(next, current);
    tlcrash_async_thread_state_clear_all_regs(next);
    tlcrash_async_thread_state_set_reg(next, 0, returnAddress);
    tlcrash_async_thread_state_set_reg(next, 1, callerFp);
    // Frameless code on x86-64 finds its caller's stack through rsp; the caller's rsp is just
    // above the saved frame pointer and return address.
    if (current->processor_state.flavor == TLCRASH_X86_THREAD_STATE64 && fp <= UINT64_MAX - 16)
        tlcrash_async_thread_state_set_reg(next, TLCRASH_X86_64_RSP, fp + 16);
    return TLCRASH_UNWIND_ESUCCESS;
}
