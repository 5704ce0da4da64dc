#include "analytics/crash/AsyncSupport.h"

#include <cerrno>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

uint16_t swap16(uint16_t v) { return __builtin_bswap16(v); }
uint32_t swap32(uint32_t v) { return __builtin_bswap32(v); }
uint64_t swap64(uint64_t v) { return __builtin_bswap64(v); }
uint16_t same16(uint16_t v) { return v; }
uint32_t same32(uint32_t v) { return v; }
uint64_t same64(uint64_t v) { return v; }

// Read once at load time; the crash path must not ask libc for it.
const uint64_t pageSize = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));

}  // namespace

const Tallytlcrash_async_byteorder tlcrash_async_byteorder_swapped = {swap16, swap32, swap64};
const Tallytlcrash_async_byteorder tlcrash_async_byteorder_direct = {same16, same32, same64};

const Tallytlcrash_async_byteorder* tlcrash_async_byteorder_native() { return &tlcrash_async_byteorder_direct; }

const char* crash_writer_error_text(int error) {
    switch (error) {
    case TLCRASH_ESUCCESS: return "No error";
    case TLCRASH_EUNKNOWN: return "Unknown error";
    case TLCRASH_OUTPUT_ERR: return "Output file can not be opened (or written to)";
    case TLCRASH_ENOMEM: return "No memory available";
    case TLCRASH_ENOTSUP: return "Operation not supported";
    case TLCRASH_EINVAL: return "Invalid argument";
    case TLCRASH_EINTERNAL: return "Internal error";
    case TLCRASH_EACCESS: return "Access denied";
    case TLCRASH_ENOTFOUND: return "Not found";
    case TLCRASH_EINVALID_DATA: return "The input data is in an unknown or invalid format.";
    default: return "Unhandled error code";
    }
}

tlcrash_task_t tlcrash_async_task_self() {
    // Asked each time: a forked child must not see its parent's id.
    int saved = errno;
    auto pid = static_cast<tlcrash_task_t>(syscall(SYS_getpid));
    errno = saved;
    return pid;
}

tlcrash_thread_t tlcrash_async_thread_self() {
    int saved = errno;
    auto tid = static_cast<tlcrash_thread_t>(syscall(SYS_gettid));
    errno = saved;
    return tid;
}

uint64_t tlcrash_async_page_size() { return pageSize ? pageSize : 4096; }

bool tlcrash_async_address_apply_offset(uint64_t address, int64_t offset, uint64_t* result) {
    uint64_t sum = address + static_cast<uint64_t>(offset);
    if (offset >= 0 ? sum < address : sum > address)
        return false;
    *result = sum;
    return true;
}

tlcrash_error_t tlcrash_async_task_memcpy(tlcrash_task_t task, uint64_t address, int64_t offset, void* dest,
                                          uint64_t length) {
    uint64_t start;
    if (!tlcrash_async_address_apply_offset(address, offset, &start))
        return TLCRASH_ENOMEM;
    if (length == 0)
        return TLCRASH_ESUCCESS;
    if (start + length < start)
        return TLCRASH_ENOTFOUND;
    int saved = errno;
    iovec local{dest, static_cast<size_t>(length)};
    iovec remote{reinterpret_cast<void*>(static_cast<uintptr_t>(start)), static_cast<size_t>(length)};
    long got = syscall(SYS_process_vm_readv, task, &local, 1UL, &remote, 1UL, 0UL);
    int err = errno;
    errno = saved;
    if (got == static_cast<long>(length))
        return TLCRASH_ESUCCESS;
    if (got >= 0 || err == EFAULT)
        return TLCRASH_ENOTFOUND;
    if (err == EPERM)
        return TLCRASH_EACCESS;
    return TLCRASH_EUNKNOWN;
}

tlcrash_error_t tlcrash_async_task_read_uint32(tlcrash_task_t task, const Tallytlcrash_async_byteorder* byteorder,
                                               uint64_t address, int64_t offset, uint32_t* result) {
    uint32_t raw = 0;
    tlcrash_error_t err = tlcrash_async_task_memcpy(task, address, offset, &raw, sizeof raw);
    *result = byteorder->swap32(raw);
    return err;
}

tlcrash_error_t tlcrash_async_task_read_uint64(tlcrash_task_t task, const Tallytlcrash_async_byteorder* byteorder,
                                               uint64_t address, int64_t offset, uint64_t* result) {
    uint64_t raw = 0;
    tlcrash_error_t err = tlcrash_async_task_memcpy(task, address, offset, &raw, sizeof raw);
    *result = byteorder->swap64(raw);
    return err;
}

int tlcrash_async_strncmp(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
    return 0;
}

void* tlcrash_async_memcpy(void* dest, const void* source, size_t n) {
    auto* d = static_cast<uint8_t*>(dest);
    auto* s = static_cast<const uint8_t*>(source);
    for (size_t i = 0; i < n; ++i)
        d[i] = s[i];
    return dest;
}

void* tlcrash_async_memset(void* dest, uint8_t value, size_t n) {
    auto* d = static_cast<uint8_t*>(dest);
    for (size_t i = 0; i < n; ++i)
        d[i] = value;
    return dest;
}

size_t tlcrash_async_strlen(const char* s) {
    size_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}
