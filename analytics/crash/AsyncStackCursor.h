#pragma once
// Walks a thread's stack frame by frame, asking a list of unwinders for each caller.
#include "analytics/crash/AsyncImageList.h"
#include "analytics/crash/AsyncThreadState.h"

enum tlcrash_unwind_error_t : uint32_t {
    TLCRASH_UNWIND_ESUCCESS = 0,
    TLCRASH_UNWIND_NO_FRAME = 2,
    TLCRASH_UNWIND_BAD_FRAME = 3,
    TLCRASH_UNWIND_NOT_SUPPORTED = 4,
    TLCRASH_UNWIND_INVALID = 5,
    TLCRASH_UNWIND_INTERNAL = 6,
    TLCRASH_UNWIND_NOT_FOUND = 8,
};

struct tlcrash_async_stack_cursor {
    tlcrash_task_t task;
    tlcrash_async_image_list* image_list;
    uint32_t depth;
    tlcrash_async_thread_state prev_frame;
    tlcrash_async_thread_state frame;
};

using tlcrash_async_unwinder = tlcrash_unwind_error_t (*)(tlcrash_task_t task, tlcrash_async_image_list* image_list,
                                                         const tlcrash_async_thread_state* current,
                                                         const tlcrash_async_thread_state* previous,
                                                         tlcrash_async_thread_state* next);

tlcrash_unwind_error_t tlcrash_async_stack_cursor_init(tlcrash_async_stack_cursor* cursor, tlcrash_task_t task,
                                                       const tlcrash_async_thread_state* initial_state,
                                                       tlcrash_async_image_list* image_list);
tlcrash_unwind_error_t tlcrash_async_stack_cursor_next_using(tlcrash_async_stack_cursor* cursor,
                                                             const tlcrash_async_unwinder* unwinders, size_t count);
tlcrash_unwind_error_t tlcrash_async_stack_cursor_next(tlcrash_async_stack_cursor* cursor);
tlcrash_unwind_error_t tlcrash_async_stack_cursor_get_reg(const tlcrash_async_stack_cursor* cursor, uint32_t regnum,
                                                          uint64_t* value);
const char* tlcrash_async_stack_cursor_get_regname(const tlcrash_async_stack_cursor* cursor, uint32_t regnum);
uint32_t tlcrash_async_stack_cursor_get_regcount(const tlcrash_async_stack_cursor* cursor);
void tlcrash_async_stack_cursor_free(tlcrash_async_stack_cursor* cursor);

tlcrash_unwind_error_t tlcrash_async_unwind_with_fp(tlcrash_task_t task, tlcrash_async_image_list* image_list,
                                                    const tlcrash_async_thread_state* current,
                                                    const tlcrash_async_thread_state* previous,
                                                    tlcrash_async_thread_state* next);
