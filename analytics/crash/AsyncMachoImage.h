#pragma once
// A loaded Mach-O image as the crash path sees it.
#include "analytics/crash/AsyncMObject.h"

struct tlcrash_async_macho_image {
    tlcrash_task_t task;
    uint64_t header_addr;
    uint64_t vmaddr_slide;
    char* name;
    struct {
        uint32_t magic;
        uint32_t cputype;
        uint32_t cpusubtype;
        uint32_t filetype;
        uint32_t ncmds;
        uint32_t sizeofcmds;
        uint32_t flags;
    } header;
    uint64_t header_size;
    uint32_t ncmds;
    tlcrash_async_mobject load_cmds;
    uint64_t text_vmaddr;
    uint64_t text_size;
    uint8_t m64;
    const Tallytlcrash_async_byteorder* byteorder;
};

inline bool tlcrash_async_macho_image_contains_address(const tlcrash_async_macho_image* image, uint64_t address) {
    return address >= image->header_addr && address - image->header_addr < image->text_size;
}

inline uint32_t tlcrash_async_macho_image_cpu_type(const tlcrash_async_macho_image* image) {
    return image->byteorder->swap32(image->header.cputype);
}

inline uint32_t tlcrash_async_macho_image_cpu_subtype(const tlcrash_async_macho_image* image) {
    return image->byteorder->swap32(image->header.cpusubtype);
}

// Next load command after previous (or the first), or null at the end of the commands area.
void* tlcrash_async_macho_image_next_command(const tlcrash_async_macho_image* image, void* previous);
void* tlcrash_async_macho_image_find_command(const tlcrash_async_macho_image* image, uint32_t command_type);

using tlcrash_async_found_symbol_cb = void (*)(uint64_t address, const char* name, void* context);
struct tlcrash_async_objc_cache;
tlcrash_error_t tlcrash_async_symbolicate(const tlcrash_async_macho_image* image, uint32_t strategy,
                                          tlcrash_async_objc_cache* cache, uint64_t pc,
                                          tlcrash_async_found_symbol_cb callback, void* context);
