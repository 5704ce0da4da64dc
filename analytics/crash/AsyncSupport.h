#pragma once
// Primitives the crash path shares: result codes, byte orders and reads of task memory.
// Everything here is async-signal-safe: no heap, no locks, raw system calls, errno kept.
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// A task is a process id; a thread is a kernel thread id.
using tlcrash_task_t = pid_t;
using tlcrash_thread_t = pid_t;

enum tlcrash_error_t : int {
    TLCRASH_ESUCCESS = 0,
    TLCRASH_EUNKNOWN = 1,
    TLCRASH_OUTPUT_ERR = 2,
    TLCRASH_ENOMEM = 3,
    TLCRASH_ENOTSUP = 4,
    TLCRASH_EINVAL = 5,
    TLCRASH_EINTERNAL = 6,
    TLCRASH_EACCESS = 7,
    TLCRASH_ENOTFOUND = 8,
    TLCRASH_EINVALID_DATA = 9,
};

const char* crash_writer_error_text(int error);

struct Tallytlcrash_async_byteorder {
    uint16_t (*swap16)(uint16_t);
    uint32_t (*swap32)(uint32_t);
    uint64_t (*swap64)(uint64_t);
};

extern const Tallytlcrash_async_byteorder tlcrash_async_byteorder_swapped;
extern const Tallytlcrash_async_byteorder tlcrash_async_byteorder_direct;
const Tallytlcrash_async_byteorder* tlcrash_async_byteorder_native();

// The own process, read at start-up so the crash path needs no call for it.
tlcrash_task_t tlcrash_async_task_self();
tlcrash_thread_t tlcrash_async_thread_self();
uint64_t tlcrash_async_page_size();

bool tlcrash_async_address_apply_offset(uint64_t address, int64_t offset, uint64_t* result);

// Copies length bytes from task memory at address + offset; 8 for unmapped memory, 7 when the
// kernel refuses access, 3 when the offset wraps the address around.
tlcrash_error_t tlcrash_async_task_memcpy(tlcrash_task_t task, uint64_t address, int64_t offset, void* dest,
                                          uint64_t length);
tlcrash_error_t tlcrash_async_task_read_uint32(tlcrash_task_t task, const Tallytlcrash_async_byteorder* byteorder,
                                               uint64_t address, int64_t offset, uint32_t* result);
tlcrash_error_t tlcrash_async_task_read_uint64(tlcrash_task_t task, const Tallytlcrash_async_byteorder* byteorder,
                                               uint64_t address, int64_t offset, uint64_t* result);

int tlcrash_async_strncmp(const char* a, const char* b, size_t n);
void* tlcrash_async_memcpy(void* dest, const void* source, size_t n);
void* tlcrash_async_memset(void* dest, uint8_t value, size_t n);
size_t tlcrash_async_strlen(const char* s);
