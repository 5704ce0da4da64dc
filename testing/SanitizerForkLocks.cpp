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
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>

extern "C" void __asan_init();
#endif

namespace testing_support {

#ifdef ZELV_TESTING_ASAN
namespace {

// The address checker's runtime (clang 14) forks with its locks as they are: a child forked while
// another thread allocates, or starts or ends a thread, waits for ever on its first allocation or
// thread. Later runtimes take these locks around a fork themselves; here the tests' forks take
// them. The runtime is linked into the executable without exporting them, so they are found by
// name in its symbol table.
using Call = void (*)();
enum { kLockThreads, kUnlockThreads, kLockAllocator, kUnlockAllocator, kCalls };
constexpr char const* kNames[kCalls] = {"_ZN6__lsan18LockThreadRegistryEv", "_ZN6__lsan20UnlockThreadRegistryEv",
                                        "_ZN6__asan18asan_mz_force_lockEv", "_ZN6__asan20asan_mz_force_unlockEv"};
std::array<Call, kCalls> locks{};  // all found, or none

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

bool findLocks(std::array<Call, kCalls>& out) {
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
                if (ELF64_ST_TYPE(syms[s].st_info) != STT_FUNC || syms[s].st_name >= strtab.sh_size || !syms[s].st_value)
                    continue;
                char const* name = names + syms[s].st_name;
                if (!::memchr(name, 0, strtab.sh_size - syms[s].st_name)) continue;
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

void beforeFork() {
    locks[kLockThreads]();
    locks[kLockAllocator]();
}

void afterFork() {
    locks[kUnlockAllocator]();
    locks[kUnlockThreads]();
}

void addForkLocks(int, char**, char**) {
    __asan_init();  // idempotent; the checker's own start may come after this one
    if (!findLocks(locks)) {
        std::fprintf(stderr, "testing: the address checker's locks were not found; a fork beside allocating threads may hang\n");
        return;
    }
    ::pthread_atfork(beforeFork, afterFork, afterFork);
}

// Run before any initialiser, the shared libraries' included, so that these handlers are the first
// added: a fork takes these locks after every other handler (which may allocate) and a child lets
// them go before any other handler runs.
__attribute__((section(".preinit_array"), used)) void (*const addForkLocksFirst)(int, char**, char**) = addForkLocks;

}  // namespace

bool sanitizerForkLocksAdded() { return locks[kLockAllocator] != nullptr; }
#else
bool sanitizerForkLocksAdded() { return false; }
#endif

}  // namespace testing_support

// Asked for by name at every link of the test support (see its CMakeLists.txt), so that this file,
// with its start-up entry, is in every test executable whether or not it calls anything here.
extern "C" bool zelv_testing_sanitizer_fork_locks() { return testing_support::sanitizerForkLocksAdded(); }
