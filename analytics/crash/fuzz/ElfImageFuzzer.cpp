// An ELF object as the reporter lists it: the bytes are both the object's file (section
// headers, symbol tables, notes) and its loaded image (build-id note, .eh_frame_hdr), and
// symbols and call frames are then looked up across it.
#include "analytics/crash/AsyncElfImage.h"

#include <cstdio>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 16)
        return 0;
    const int fd = memfd_create("elf", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    std::memcpy(memory, data, size);
    const auto base = reinterpret_cast<uint64_t>(memory);

    // The note and the call-frame index sit where the last bytes say.
    uint32_t noteAt;
    uint32_t hdrAt;
    std::memcpy(&noteAt, data + size - 8, 4);
    std::memcpy(&hdrAt, data + size - 4, 4);
    noteAt %= size;
    hdrAt %= size;
    ElfW(Phdr) phdrs[3] = {};
    phdrs[0].p_type = PT_LOAD;
    phdrs[0].p_flags = PF_R | PF_X;
    phdrs[0].p_memsz = phdrs[0].p_filesz = size;
    phdrs[1].p_type = PT_NOTE;
    phdrs[1].p_vaddr = noteAt;
    phdrs[1].p_filesz = size - noteAt;
    phdrs[2].p_type = PT_GNU_EH_FRAME;
    phdrs[2].p_vaddr = hdrAt;

    tlcrash_async_elf_image image;
    if (tlcrash_async_elf_image_init(&image, getpid(), path, base, phdrs, 3) == TLCRASH_ESUCCESS) {
        for (uint64_t pc = base; pc < base + size; pc += 1 + size / 64) {
            tlcrash_async_elf_find_symbol(&image, pc, [](uint64_t, const char*, void*) {}, nullptr);
            uint64_t fde;
            tlcrash_async_elf_find_fde(&image, pc, &fde);
        }
    }
    tlcrash_async_elf_image_free(&image);
    munmap(memory, size);
    close(fd);
    return 0;
}
