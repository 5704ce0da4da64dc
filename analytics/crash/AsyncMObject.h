#pragma once
// A read-only local copy of a range of task memory, read through accessors bounded by it.
#include "analytics/crash/AsyncSupport.h"

struct tlcrash_async_mobject {
    tlcrash_task_t task;
    uintptr_t address;      // local address at which task_address is visible
    uint64_t task_address;  // the task address asked for
    uint64_t length;        // usable length from task_address
    uint64_t slide;         // task address minus local address
    uintptr_t vm_address;   // local page-aligned mapping
    uint64_t vm_length;
};

// Outside the crash path, once: sets aside pages the copies are made in, so that a crash with
// the address space used up (where a new mapping fails) still reads what it needs. Copies that
// do not fit there get a mapping of their own.
void tlcrash_async_mobject_reserve();

tlcrash_error_t tlcrash_async_mobject_init(tlcrash_async_mobject* mobj, tlcrash_task_t task, uint64_t task_address,
                                           uint64_t length, bool require_full);
void tlcrash_async_mobject_free(tlcrash_async_mobject* mobj);

inline uint64_t tlcrash_async_mobject_base_address(const tlcrash_async_mobject* mobj) { return mobj->task_address; }
inline uint64_t tlcrash_async_mobject_length(const tlcrash_async_mobject* mobj) { return mobj->length; }
inline tlcrash_task_t tlcrash_async_mobject_task(const tlcrash_async_mobject* mobj) { return mobj->task; }

bool tlcrash_async_mobject_verify(const tlcrash_async_mobject* mobj, uintptr_t address, int64_t offset,
                                  uint64_t length);
// Local pointer to task_address + offset when [.., + length) lies inside the object, else null.
void* tlcrash_async_mobject_remap(const tlcrash_async_mobject* mobj, uint64_t task_address, int64_t offset,
                                  uint64_t length);

tlcrash_error_t tlcrash_async_mobject_read_uint8(const tlcrash_async_mobject* mobj, uint64_t task_address,
                                                 int64_t offset, uint8_t* result);
tlcrash_error_t tlcrash_async_mobject_read_uint16(const tlcrash_async_mobject* mobj,
                                                  const Tallytlcrash_async_byteorder* byteorder,
                                                  uint64_t task_address, int64_t offset, uint16_t* result);
tlcrash_error_t tlcrash_async_mobject_read_uint32(const tlcrash_async_mobject* mobj,
                                                  const Tallytlcrash_async_byteorder* byteorder,
                                                  uint64_t task_address, int64_t offset, uint32_t* result);
tlcrash_error_t tlcrash_async_mobject_read_uint64(const tlcrash_async_mobject* mobj,
                                                  const Tallytlcrash_async_byteorder* byteorder,
                                                  uint64_t task_address, int64_t offset, uint64_t* result);
