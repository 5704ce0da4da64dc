#pragma once
// A loaded ELF object as the crash path sees it. Everything is prepared when the object is
// listed (outside the crash path); at crash time it is only read, and every read of the
// object's own memory or of its file goes through a bounded copy that cannot fault.
#include "analytics/crash/AsyncSupport.h"

#include <link.h>

// A function symbol: its run-time address, its size (0 when unknown) and where its name
// starts in the string table.
struct tlcrash_async_elf_symbol {
    uint64_t address;
    uint32_t name;
    uint32_t size;
};

struct tlcrash_async_elf_image {
    tlcrash_task_t task;
    uint64_t base;  // where the first segment (the ELF header) is mapped
    uint64_t size;  // from base to the end of the last executable segment
    char* name;     // the object's path
    uint8_t uuid[16];  // the first 16 bytes of the GNU build-id
    bool has_uuid;
    // Where the build-id and the ELF header were read: an object loaded later at the same
    // address shows other bytes there, and its record must not name it.
    uint64_t uuid_address;
    uint32_t uuid_length;
    bool has_header;
    uint8_t header[sizeof(ElfW(Ehdr))];
    // .eh_frame_hdr and the bounds every call-frame read stays in (the segment holding
    // .eh_frame); 0 when the object has no such index.
    uint64_t eh_frame_hdr;
    uint64_t eh_frame_start;
    uint64_t eh_frame_end;
    // Function symbols by ascending address (.symtab when the file has one, else .dynsym),
    // and their names, read from a private read-only mapping of the file.
    tlcrash_async_elf_symbol* symbols;
    size_t symbol_count;
    uint64_t strings;
    uint64_t strings_size;
    void* mapping;
    size_t mapping_length;
};

inline bool tlcrash_async_elf_image_contains_address(const tlcrash_async_elf_image* image, uint64_t address) {
    return address >= image->base && address - image->base < image->size;
}

// Crash path. False when the object at the record's address is no longer the one it was
// built from (unloaded, or replaced by another at the same address).
bool tlcrash_async_elf_image_is_current(const tlcrash_async_elf_image* image);

// Outside the crash path: builds the record of an object from its program headers (as
// dl_iterate_phdr gives them) and its file. path null or empty means the main executable.
tlcrash_error_t tlcrash_async_elf_image_init(tlcrash_async_elf_image* image, tlcrash_task_t task, const char* path,
                                             uint64_t bias, const ElfW(Phdr) * phdrs, size_t phnum);
void tlcrash_async_elf_image_free(tlcrash_async_elf_image* image);

// Crash path. The closest function symbol at or below pc: one callback and 0; 8 when none,
// or when that symbol's size ends before pc (code of a function the table does not list,
// which would otherwise carry a neighbour's name).
using tlcrash_async_elf_symbol_cb = void (*)(uint64_t address, const char* name, void* context);
tlcrash_error_t tlcrash_async_elf_find_symbol(const tlcrash_async_elf_image* image, uint64_t pc,
                                              tlcrash_async_elf_symbol_cb callback, void* context);
// The address of the FDE covering pc, from the binary-search table of .eh_frame_hdr: 0; 8
// when no entry covers pc; 4 when the object has no table of a form this reader knows.
tlcrash_error_t tlcrash_async_elf_find_fde(const tlcrash_async_elf_image* image, uint64_t pc, uint64_t* fde_address);
