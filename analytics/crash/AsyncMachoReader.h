#pragma once
// Reading a loaded Mach-O image: its creation, segments and sections, the symbol table and the
// names of frames. Everything but image creation runs on the crash path without allocation.
#include "analytics/crash/AsyncMachoImage.h"

// Reads the header and load commands at header_addr and keeps a copy of name. 6 when the
// header cannot be read; 5 for a bad magic, a command outside the commands area or no __TEXT.
tlcrash_error_t tlcrash_async_macho_image_init(tlcrash_async_macho_image* image, tlcrash_task_t task, const char* name,
                                               uint64_t header_addr);
void tlcrash_async_macho_image_free(tlcrash_async_macho_image* image);

// The segment command (a pointer into the commands mapping) named segname, or null.
void* tlcrash_async_macho_image_find_segment(const tlcrash_async_macho_image* image, const char* segname);
tlcrash_error_t tlcrash_async_macho_image_map_segment(const tlcrash_async_macho_image* image, const char* segname,
                                                      tlcrash_async_mobject* mobj, uint64_t* fileoff,
                                                      uint64_t* filesize);
// 0; 8 when the segment or section is absent; 5 for a section header outside the commands.
tlcrash_error_t tlcrash_async_macho_image_map_section(const tlcrash_async_macho_image* image, const char* segname,
                                                      const char* sectname, tlcrash_async_mobject* mobj);

struct tlcrash_async_macho_symtab_entry {
    uint32_t n_strx;
    uint8_t n_type;
    uint8_t n_sect;
    uint16_t n_desc;
    uint64_t n_value;
    uint64_t normalized_value;  // n_value, plus 1 for a Thumb definition
};

struct tlcrash_async_macho_symtab_reader {
    const tlcrash_async_macho_image* image;
    tlcrash_async_mobject linkedit;
    uint64_t linkedit_fileoff;
    uint64_t linkedit_filesize;
    const void* symtab;
    uint32_t nsyms;
    const void* symtab_global;
    uint32_t nsyms_global;
    const void* symtab_local;
    uint32_t nsyms_local;
    const char* string_table;
    uint64_t string_table_size;
};

tlcrash_error_t tlcrash_async_macho_symtab_reader_init(tlcrash_async_macho_symtab_reader* reader,
                                                       const tlcrash_async_macho_image* image);
void tlcrash_async_macho_symtab_reader_free(tlcrash_async_macho_symtab_reader* reader);
tlcrash_async_macho_symtab_entry tlcrash_async_macho_symtab_read_entry(const tlcrash_async_macho_symtab_reader* reader,
                                                                       const void* symtab, uint32_t index);

// The closest defined symbol at or below pc: one callback and 0; 8 when none qualifies; 5 when
// its name does not end inside the string table.
tlcrash_error_t tlcrash_async_macho_find_symbol(const tlcrash_async_macho_image* image, uint64_t pc,
                                                tlcrash_async_found_symbol_cb callback, void* context);

enum : uint32_t {
    TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE = 0x1,
    TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC = 0x2,
};

// A NUL-terminated string in task memory, mapped on first use.
struct tlcrash_async_task_string {
    const tlcrash_async_macho_image* image;
    uint64_t address;
    bool mapped;
    tlcrash_async_mobject mobj;
    uint64_t length;
};

tlcrash_error_t tlcrash_async_task_string_init(tlcrash_async_task_string* string,
                                               const tlcrash_async_macho_image* image, uint64_t address);
tlcrash_error_t tlcrash_async_task_string_length(tlcrash_async_task_string* string, uint64_t* length);
tlcrash_error_t tlcrash_async_task_string_pointer(tlcrash_async_task_string* string, const char** pointer);
void tlcrash_async_task_string_free(tlcrash_async_task_string* string);

// A caller frame's pc is the return address; the call sits just before it, and for a call to a
// function that never returns, at the very end of its function. Lookups use pc - 1 there.
inline uint64_t tlcrash_async_unwind_lookup_pc(uint64_t pc, bool caller_frame) {
    return caller_frame && pc > 0 ? pc - 1 : pc;
}
