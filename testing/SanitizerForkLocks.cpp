#include "testing/SanitizerForkLocks.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELV_TESTING_ASAN 1
#endif
#endif

#ifdef ZELV_TESTING_ASAN
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" void __asan_init();
#endif

namespace testing_support {

#ifdef ZELV_TESTING_ASAN
namespace {

// The address checker's runtime (clang 14) forks with its locks as they are: a child forked while
// another thread allocates, frees, or starts or ends a thread, waits for ever on its first
// allocation, free or thread. Later runtimes take most of these locks around a fork themselves;
// here the tests' forks take them. The runtime is linked into the executable without exporting
// them, so they are found by name in its symbol table.
using Call = void (*)();
enum { kLockThreads, kUnlockThreads, kLockAllocator, kUnlockAllocator, kLockStacks, kUnlockStacks, kCalls };
constexpr char const* kNames[kCalls] = {"_ZN6__lsan18LockThreadRegistryEv",   "_ZN6__lsan20UnlockThreadRegistryEv",
                                        "_ZN6__asan18asan_mz_force_lockEv",    "_ZN6__asan20asan_mz_force_unlockEv",
                                        "_ZN11__sanitizer17StackDepotLockAllEv", "_ZN11__sanitizer19StackDepotUnlockAllEv"};
std::array<Call, kCalls> locks{};  // all found, or none

// The freed-memory quarantine's two spin locks have no call that takes them. They sit in the
// allocator object after three words that give them away: the quarantine's size, nine tenths of
// it, and a thread's share; then a cache line of padding; then the cache lock and the recycle lock
// (a byte each, 1 while held).
constexpr char const* kAllocatorObject = "_ZN6__asanL8instanceE";
unsigned char* quarantineLocks = nullptr;  // [0] cache, [1] recycle

unsigned char* findQuarantineLocks(unsigned char* object, size_t size) {
    constexpr size_t kCacheLine = 64;
    unsigned char* found = nullptr;
    for (size_t at = 0; at + 3 * 8 + kCacheLine + 2 <= size; at += 8) {
        uint64_t words[3];
        std::memcpy(words, object + at, sizeof words);
        if (words[0] == 0 || words[1] != words[0] / 10 * 9 || words[2] > words[0]) continue;
        unsigned char* const pair = object + at + sizeof words + kCacheLine;
        if (pair[0] > 1 || pair[1] > 1) continue;
        if (found) return nullptr;  // not the layout looked for
        found = pair;
    }
    return found;
}

void spinLock(unsigned char* lock) {
    while (__atomic_exchange_n(lock, 1, __ATOMIC_ACQUIRE)) ::sched_yield();
}

void spinUnlock(unsigned char* lock) { __atomic_store_n(lock, 0, __ATOMIC_RELEASE); }

uintptr_t executableBias() {
    uintptr_t bias = 0;
    // The first object listed is the executable.
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* out) {
            *static_cast<uintptr_t*>(out) = info->dlpi_addr;
            return 1;
        },
        &bias);
    return bias;
}

bool findLocks(std::array<Call, kCalls>& out, unsigned char*& quarantine) {
    int const fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    void* const map = ::fstat(fd, &st) == 0 && size_t(st.st_size) >= sizeof(Elf64_Ehdr)
                          ? ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0)
                          : MAP_FAILED;
    ::close(fd);
    if (map == MAP_FAILED) return false;
    auto const* base = static_cast<unsigned char const*>(map);
    size_t const size = size_t(st.st_size);
    auto const within = [&](uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; };
    std::array<Call, kCalls> found{};
    auto const& eh = *reinterpret_cast<Elf64_Ehdr const*>(base);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) == 0 && eh.e_ident[EI_CLASS] == ELFCLASS64 &&
        eh.e_shentsize == sizeof(Elf64_Shdr) && within(eh.e_shoff, uint64_t(eh.e_shnum) * sizeof(Elf64_Shdr))) {
        auto const* sections = reinterpret_cast<Elf64_Shdr const*>(base + eh.e_shoff);
        uintptr_t const bias = executableBias();
        for (unsigned i = 0; i < eh.e_shnum; ++i) {
            Elf64_Shdr const& symtab = sections[i];
            if (symtab.sh_type != SHT_SYMTAB || symtab.sh_link >= eh.e_shnum) continue;
            Elf64_Shdr const& strtab = sections[symtab.sh_link];
            if (!within(symtab.sh_offset, symtab.sh_size) || !within(strtab.sh_offset, strtab.sh_size)) continue;
            auto const* syms = reinterpret_cast<Elf64_Sym const*>(base + symtab.sh_offset);
            char const* names = reinterpret_cast<char const*>(base + strtab.sh_offset);
            for (size_t s = 0; s < symtab.sh_size / sizeof(Elf64_Sym); ++s) {
                int const type = ELF64_ST_TYPE(syms[s].st_info);
                if ((type != STT_FUNC && type != STT_OBJECT) || syms[s].st_name >= strtab.sh_size || !syms[s].st_value)
                    continue;
                char const* name = names + syms[s].st_name;
                if (!::memchr(name, 0, strtab.sh_size - syms[s].st_name)) continue;
                if (type == STT_OBJECT) {
                    if (std::strcmp(name, kAllocatorObject) == 0)
                        quarantine = findQuarantineLocks(reinterpret_cast<unsigned char*>(bias + syms[s].st_value),
                                                         size_t(syms[s].st_size));
                    continue;
                }
                for (int n = 0; n < kCalls; ++n)
                    if (std::strcmp(name, kNames[n]) == 0) found[n] = reinterpret_cast<Call>(bias + syms[s].st_value);
            }
        }
    }
    ::munmap(map, size);
    for (Call c : found)
        if (!c) return false;
    out = found;
    return true;
}

// None of the later locks is held by a thread that waits for an earlier one.
void beforeFork() {
    locks[kLockThreads]();
    locks[kLockAllocator]();
    locks[kLockStacks]();
    if (quarantineLocks) {
        spinLock(&quarantineLocks[1]);
        spinLock(&quarantineLocks[0]);
    }
}

void afterFork() {
    if (quarantineLocks) {
        spinUnlock(&quarantineLocks[0]);
        spinUnlock(&quarantineLocks[1]);
    }
    locks[kUnlockStacks]();
    locks[kUnlockAllocator]();
    locks[kUnlockThreads]();
}

void addForkLocks(int, char**, char**) {
    __asan_init();  // idempotent; the checker's own start may come after this one
    if (!findLocks(locks, quarantineLocks)) {
        std::fprintf(stderr, "testing: the address checker's locks were not found; a fork beside allocating threads may hang\n");
        return;
    }
    if (!quarantineLocks)
        std::fprintf(stderr, "testing: the address checker's quarantine locks were not found; a fork beside freeing threads may hang\n");
    ::pthread_atfork(beforeFork, afterFork, afterFork);
}

// Run before any initialiser, the shared libraries' included, so that these handlers are the first
// added: a fork takes these locks after every other handler (which may allocate) and a child lets
// them go before any other handler runs.
__attribute__((section(".preinit_array"), used)) void (*const addForkLocksFirst)(int, char**, char**) = addForkLocks;

}  // namespace

bool sanitizerForkLocksAdded() { return locks[kLockAllocator] != nullptr && quarantineLocks != nullptr; }
#else
bool sanitizerForkLocksAdded() { return false; }
#endif

}  // namespace testing_support

// Asked for by name at every link of the test support (see its CMakeLists.txt), so that this file,
// with its start-up entry, is in every test executable whether or not it calls anything here.
extern "C" bool zelv_testing_sanitizer_fork_locks() { return testing_support::sanitizerForkLocksAdded(); }
