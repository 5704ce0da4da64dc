#include "analytics/crash/AsyncMObject.h"

#include <atomic>
#include <cerrno>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// Pages asked for in one call; the kernel stops at the first page it cannot read, so the
// number of bytes it returns tells how far the readable prefix goes.
constexpr size_t kPagesPerCall = 64;

// Copies whole pages from the task into the mapping; returns how many bytes arrived.
uint64_t copyPages(tlcrash_task_t task, uint64_t from, uintptr_t to, uint64_t length) {
    const uint64_t page = tlcrash_async_page_size();
    uint64_t done = 0;
    while (done < length) {
        iovec remote[kPagesPerCall];
        size_t count = 0;
        uint64_t chunk = 0;
        while (count < kPagesPerCall && done + chunk < length) {
            remote[count].iov_base = reinterpret_cast<void*>(static_cast<uintptr_t>(from + done + chunk));
            remote[count].iov_len = page;
            ++count;
            chunk += page;
        }
        iovec local{reinterpret_cast<void*>(to + done), static_cast<size_t>(chunk)};
        long got = syscall(SYS_process_vm_readv, task, &local, 1UL, remote, count, 0UL);
        if (got <= 0)
            return done;
        done += static_cast<uint64_t>(got) / page * page;
        if (static_cast<uint64_t>(got) != chunk)
            return done;
    }
    return done;
}

// The reserve: runs of pages handed out by bits in a few words, so that a copy is taken and
// given back with one compare-and-swap, from any thread and inside a signal handler.
constexpr size_t kReserveWords = 2;
constexpr size_t kPagesPerWord = 64;
std::atomic<uintptr_t> reserveBase{0};
std::atomic<uint64_t> reserveUsed[kReserveWords];

uint64_t runMask(uint64_t pages, unsigned first) {
    return (pages == kPagesPerWord ? ~0ull : (1ull << pages) - 1) << first;
}

uintptr_t takeReserved(uint64_t pages) {
    const uintptr_t base = reserveBase.load(std::memory_order_acquire);
    if (base == 0 || pages == 0 || pages > kPagesPerWord)
        return 0;
    for (size_t word = 0; word < kReserveWords; ++word) {
        uint64_t used = reserveUsed[word].load();
        for (unsigned first = 0; first + pages <= kPagesPerWord;) {
            const uint64_t mask = runMask(pages, first);
            if ((used & mask) != 0) {
                ++first;
                continue;
            }
            if (reserveUsed[word].compare_exchange_weak(used, used | mask))
                return base + (word * kPagesPerWord + first) * tlcrash_async_page_size();
            first = 0;  // taken meanwhile: look again from the start
        }
    }
    return 0;
}

bool giveBackReserved(uintptr_t address, uint64_t length) {
    const uintptr_t base = reserveBase.load(std::memory_order_acquire);
    const uint64_t page = tlcrash_async_page_size();
    if (base == 0 || address < base || address >= base + kReserveWords * kPagesPerWord * page)
        return false;
    const uint64_t index = (address - base) / page;
    reserveUsed[index / kPagesPerWord].fetch_and(~runMask(length / page, static_cast<unsigned>(index % kPagesPerWord)));
    return true;
}

}  // namespace

void tlcrash_async_mobject_reserve() {
    if (reserveBase.load() != 0)
        return;
    const size_t length = kReserveWords * kPagesPerWord * tlcrash_async_page_size();
    void* pages = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
        return;
    uintptr_t none = 0;
    if (!reserveBase.compare_exchange_strong(none, reinterpret_cast<uintptr_t>(pages)))
        munmap(pages, length);
}

tlcrash_error_t tlcrash_async_mobject_init(tlcrash_async_mobject* mobj, tlcrash_task_t task, uint64_t task_address,
                                           uint64_t length, bool require_full) {
    const uint64_t page = tlcrash_async_page_size();
    const uint64_t mask = page - 1;
    uint64_t end;
    if (__builtin_add_overflow(task_address, length, &end) || end > UINT64_MAX - mask)
        return TLCRASH_EINVAL;
    const uint64_t pageStart = task_address & ~mask;
    uint64_t span = ((end + mask) & ~mask) - pageStart;
    if (span == 0)
        span = page;

    int saved = errno;
    const uintptr_t reserved = takeReserved(span / page);
    void* local = reserved != 0 ? reinterpret_cast<void*>(reserved)
                                : mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (local == MAP_FAILED) {
        errno = saved;
        return TLCRASH_EINTERNAL;
    }
    const auto base = reinterpret_cast<uintptr_t>(local);
    uint64_t copied = copyPages(task, pageStart, base, span);
    if (copied == 0 || (require_full && copied < span)) {
        if (!giveBackReserved(base, span))
            munmap(local, span);
        errno = saved;
        return TLCRASH_ENOMEM;
    }
    // Nothing writes a copy of its own again; a stray write through a bad pointer should fault.
    if (reserved == 0)
        mprotect(local, span, PROT_READ);
    errno = saved;

    const uint64_t lead = task_address - pageStart;
    mobj->task = task;
    mobj->vm_address = base;
    mobj->vm_length = span;
    mobj->address = base + lead;
    mobj->task_address = task_address;
    mobj->length = copied > lead ? (length < copied - lead ? length : copied - lead) : 0;
    mobj->slide = task_address - mobj->address;
    return TLCRASH_ESUCCESS;
}

void tlcrash_async_mobject_free(tlcrash_async_mobject* mobj) {
    if (mobj->vm_address != 0 && !giveBackReserved(mobj->vm_address, mobj->vm_length)) {
        int saved = errno;
        munmap(reinterpret_cast<void*>(mobj->vm_address), mobj->vm_length);
        errno = saved;
    }
    mobj->vm_address = 0;
    mobj->vm_length = 0;
    mobj->length = 0;
}

bool tlcrash_async_mobject_verify(const tlcrash_async_mobject* mobj, uintptr_t address, int64_t offset,
                                  uint64_t length) {
    uint64_t start;
    if (!tlcrash_async_address_apply_offset(address, offset, &start))
        return false;
    uint64_t end;
    if (__builtin_add_overflow(start, length, &end))
        return false;
    return start >= mobj->address && end <= mobj->address + mobj->length;
}

void* tlcrash_async_mobject_remap(const tlcrash_async_mobject* mobj, uint64_t task_address, int64_t offset,
                                  uint64_t length) {
    uintptr_t local = static_cast<uintptr_t>(task_address - mobj->slide);
    if (!tlcrash_async_mobject_verify(mobj, local, offset, length))
        return nullptr;
    return reinterpret_cast<void*>(local + static_cast<uintptr_t>(offset));
}

namespace {

template <typename T>
tlcrash_error_t readValue(const tlcrash_async_mobject* mobj, uint64_t task_address, int64_t offset, T* out) {
    void* p = tlcrash_async_mobject_remap(mobj, task_address, offset, sizeof(T));
    if (p == nullptr)
        return TLCRASH_EINVAL;
    tlcrash_async_memcpy(out, p, sizeof(T));
    return TLCRASH_ESUCCESS;
}

}  // namespace

tlcrash_error_t tlcrash_async_mobject_read_uint8(const tlcrash_async_mobject* mobj, uint64_t task_address,
                                                 int64_t offset, uint8_t* result) {
    return readValue(mobj, task_address, offset, result);
}

tlcrash_error_t tlcrash_async_mobject_read_uint16(const tlcrash_async_mobject* mobj,
                                                  const Tallytlcrash_async_byteorder* byteorder,
                                                  uint64_t task_address, int64_t offset, uint16_t* result) {
    uint16_t raw;
    tlcrash_error_t err = readValue(mobj, task_address, offset, &raw);
    if (err == TLCRASH_ESUCCESS)
        *result = byteorder->swap16(raw);
    return err;
}

tlcrash_error_t tlcrash_async_mobject_read_uint32(const tlcrash_async_mobject* mobj,
                                                  const Tallytlcrash_async_byteorder* byteorder,
                                                  uint64_t task_address, int64_t offset, uint32_t* result) {
    uint32_t raw;
    tlcrash_error_t err = readValue(mobj, task_address, offset, &raw);
    if (err == TLCRASH_ESUCCESS)
        *result = byteorder->swap32(raw);
    return err;
}

tlcrash_error_t tlcrash_async_mobject_read_uint64(const tlcrash_async_mobject* mobj,
                                                  const Tallytlcrash_async_byteorder* byteorder,
                                                  uint64_t task_address, int64_t offset, uint64_t* result) {
    uint64_t raw;
    tlcrash_error_t err = readValue(mobj, task_address, offset, &raw);
    if (err == TLCRASH_ESUCCESS)
        *result = byteorder->swap64(raw);
    return err;
}
