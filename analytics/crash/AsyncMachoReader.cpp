#include "analytics/crash/AsyncMachoReader.h"

#include "analytics/crash/AsyncObjc.h"

#include <cstring>

namespace {

constexpr uint32_t kMagic32 = 0xFEEDFACE;
constexpr uint32_t kMagic64 = 0xFEEDFACF;
constexpr uint32_t kCigam32 = 0xCEFAEDFE;
constexpr uint32_t kCigam64 = 0xCFFAEDFE;
constexpr uint32_t kLcSegment = 0x1;
constexpr uint32_t kLcSegment64 = 0x19;
constexpr uint32_t kLcSymtab = 0x2;
constexpr uint32_t kLcDysymtab = 0xB;
// Memory objects copy what they map; a damaged size must not make the crash path copy
// gigabytes of whatever happens to be readable.
constexpr uint64_t kMaxMapping = 64ull << 20;

struct SegmentInfo {
    char segname[16];
    uint64_t vmaddr;
    uint64_t vmsize;
    uint64_t fileoff;
    uint64_t filesize;
    uint32_t nsects;
};

uint32_t swap32(const tlcrash_async_macho_image* image, const void* at) {
    uint32_t v;
    tlcrash_async_memcpy(&v, at, sizeof v);
    return image->byteorder->swap32(v);
}

uint64_t swap64(const tlcrash_async_macho_image* image, const void* at) {
    uint64_t v;
    tlcrash_async_memcpy(&v, at, sizeof v);
    return image->byteorder->swap64(v);
}

const char* at(const void* base, size_t offset) { return static_cast<const char*>(base) + offset; }

bool commandFits(const tlcrash_async_macho_image* image, const void* cmd, uint64_t length) {
    return tlcrash_async_mobject_verify(&image->load_cmds, reinterpret_cast<uintptr_t>(cmd), 0, length);
}

// Reads a segment command of the image's width; false when it does not lie in the commands.
bool readSegment(const tlcrash_async_macho_image* image, const void* cmd, SegmentInfo* info) {
    if (image->m64) {
        if (!commandFits(image, cmd, 72))
            return false;
        tlcrash_async_memcpy(info->segname, at(cmd, 8), 16);
        info->vmaddr = swap64(image, at(cmd, 24));
        info->vmsize = swap64(image, at(cmd, 32));
        info->fileoff = swap64(image, at(cmd, 40));
        info->filesize = swap64(image, at(cmd, 48));
        info->nsects = swap32(image, at(cmd, 64));
    } else {
        if (!commandFits(image, cmd, 56))
            return false;
        tlcrash_async_memcpy(info->segname, at(cmd, 8), 16);
        info->vmaddr = swap32(image, at(cmd, 24));
        info->vmsize = swap32(image, at(cmd, 28));
        info->fileoff = swap32(image, at(cmd, 32));
        info->filesize = swap32(image, at(cmd, 36));
        info->nsects = swap32(image, at(cmd, 48));
    }
    return true;
}

bool nameIs(const char field[16], const char* name) { return tlcrash_async_strncmp(field, name, 16) == 0; }

// Offsets of the symbol and string tables from LC_SYMTAB and the sub-ranges of LC_DYSYMTAB.
struct SymtabCommand {
    uint32_t symoff, nsyms, stroff, strsize;
};

}  // namespace

tlcrash_error_t tlcrash_async_macho_image_init(tlcrash_async_macho_image* image, tlcrash_task_t task, const char* name,
                                               uint64_t header_addr) {
    tlcrash_async_memset(image, 0, sizeof *image);
    image->task = task;
    image->header_addr = header_addr;
    const size_t nameLength = name != nullptr ? std::strlen(name) : 0;
    image->name = new char[nameLength + 1];
    if (nameLength)
        std::memcpy(image->name, name, nameLength);
    image->name[nameLength] = '\0';

    auto fail = [&](tlcrash_error_t err) {
        delete[] image->name;
        image->name = nullptr;
        return err;
    };

    if (tlcrash_async_task_memcpy(task, header_addr, 0, &image->header, sizeof image->header) != TLCRASH_ESUCCESS)
        return fail(TLCRASH_EINTERNAL);
    switch (image->header.magic) {
    case kMagic32:
        image->byteorder = &tlcrash_async_byteorder_direct;
        image->m64 = 0;
        break;
    case kMagic64:
        image->byteorder = &tlcrash_async_byteorder_direct;
        image->m64 = 1;
        break;
    case kCigam32:
        image->byteorder = &tlcrash_async_byteorder_swapped;
        image->m64 = 0;
        break;
    case kCigam64:
        image->byteorder = &tlcrash_async_byteorder_swapped;
        image->m64 = 1;
        break;
    default:
        return fail(TLCRASH_EINVAL);
    }
    image->header_size = image->m64 ? 32 : 28;
    image->ncmds = image->byteorder->swap32(image->header.ncmds);

    uint64_t commands;
    if (!tlcrash_async_address_apply_offset(header_addr, int64_t(image->header_size), &commands))
        return fail(TLCRASH_EINVAL);
    tlcrash_error_t err = tlcrash_async_mobject_init(&image->load_cmds, task, commands,
                                                     image->byteorder->swap32(image->header.sizeofcmds), true);
    if (err != TLCRASH_ESUCCESS)
        return fail(err);

    const uint32_t segmentCommand = image->m64 ? kLcSegment64 : kLcSegment;
    bool foundText = false;
    for (void* cmd = tlcrash_async_macho_image_next_command(image, nullptr); cmd != nullptr;
         cmd = tlcrash_async_macho_image_next_command(image, cmd)) {
        if (swap32(image, cmd) != segmentCommand)
            continue;
        SegmentInfo segment;
        if (!readSegment(image, cmd, &segment)) {
            tlcrash_async_mobject_free(&image->load_cmds);
            return fail(TLCRASH_EINVAL);
        }
        if (!foundText && nameIs(segment.segname, "__TEXT")) {
            foundText = true;
            image->text_vmaddr = segment.vmaddr;
            image->text_size = segment.vmsize;
            image->vmaddr_slide = header_addr - segment.vmaddr;
        }
    }
    if (!foundText) {
        tlcrash_async_mobject_free(&image->load_cmds);
        return fail(TLCRASH_EINVAL);
    }
    return TLCRASH_ESUCCESS;
}

void tlcrash_async_macho_image_free(tlcrash_async_macho_image* image) {
    if (image->name == nullptr)
        return;
    tlcrash_async_mobject_free(&image->load_cmds);
    delete[] image->name;
    image->name = nullptr;
}

void* tlcrash_async_macho_image_find_segment(const tlcrash_async_macho_image* image, const char* segname) {
    const uint32_t segmentCommand = image->m64 ? kLcSegment64 : kLcSegment;
    for (void* cmd = tlcrash_async_macho_image_next_command(image, nullptr); cmd != nullptr;
         cmd = tlcrash_async_macho_image_next_command(image, cmd)) {
        if (swap32(image, cmd) != segmentCommand)
            continue;
        SegmentInfo segment;
        if (readSegment(image, cmd, &segment) && nameIs(segment.segname, segname))
            return cmd;
    }
    return nullptr;
}

tlcrash_error_t tlcrash_async_macho_image_map_segment(const tlcrash_async_macho_image* image, const char* segname,
                                                      tlcrash_async_mobject* mobj, uint64_t* fileoff,
                                                      uint64_t* filesize) {
    void* cmd = tlcrash_async_macho_image_find_segment(image, segname);
    SegmentInfo segment;
    if (cmd == nullptr || !readSegment(image, cmd, &segment))
        return TLCRASH_ENOTFOUND;
    const uint64_t length = segment.vmsize < kMaxMapping ? segment.vmsize : kMaxMapping;
    tlcrash_error_t err =
        tlcrash_async_mobject_init(mobj, image->task, segment.vmaddr + image->vmaddr_slide, length, false);
    if (err != TLCRASH_ESUCCESS)
        return err;
    if (fileoff)
        *fileoff = segment.fileoff;
    if (filesize)
        *filesize = segment.filesize;
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t tlcrash_async_macho_image_map_section(const tlcrash_async_macho_image* image, const char* segname,
                                                      const char* sectname, tlcrash_async_mobject* mobj) {
    void* cmd = tlcrash_async_macho_image_find_segment(image, segname);
    SegmentInfo segment;
    if (cmd == nullptr || !readSegment(image, cmd, &segment) || segment.nsects == 0)
        return TLCRASH_ENOTFOUND;
    const uint64_t headerSize = image->m64 ? 80 : 68;
    const char* section = at(cmd, image->m64 ? 72 : 56);
    for (uint32_t i = 0; i < segment.nsects; ++i, section += headerSize) {
        if (!commandFits(image, section, headerSize))
            return TLCRASH_EINVAL;
        if (!nameIs(section, sectname))
            continue;
        const uint64_t addr = image->m64 ? swap64(image, section + 32) : swap32(image, section + 32);
        const uint64_t size = image->m64 ? swap64(image, section + 40) : swap32(image, section + 36);
        if (size > kMaxMapping)
            return TLCRASH_EINVAL;
        return tlcrash_async_mobject_init(mobj, image->task, addr + image->vmaddr_slide, size, true);
    }
    return TLCRASH_ENOTFOUND;
}

tlcrash_error_t tlcrash_async_macho_symtab_reader_init(tlcrash_async_macho_symtab_reader* reader,
                                                       const tlcrash_async_macho_image* image) {
    tlcrash_async_memset(reader, 0, sizeof *reader);
    reader->image = image;
    void* symtabCmd = tlcrash_async_macho_image_find_command(image, kLcSymtab);
    if (symtabCmd == nullptr)
        return TLCRASH_ENOTFOUND;
    if (!commandFits(image, symtabCmd, 24))
        return TLCRASH_EINVAL;
    const SymtabCommand symtab{swap32(image, at(symtabCmd, 8)), swap32(image, at(symtabCmd, 12)),
                               swap32(image, at(symtabCmd, 16)), swap32(image, at(symtabCmd, 20))};
    void* dysymtabCmd = tlcrash_async_macho_image_find_command(image, kLcDysymtab);
    if (dysymtabCmd != nullptr && !commandFits(image, dysymtabCmd, 24))
        dysymtabCmd = nullptr;

    if (tlcrash_async_macho_image_map_segment(image, "__LINKEDIT", &reader->linkedit, &reader->linkedit_fileoff,
                                              &reader->linkedit_filesize) != TLCRASH_ESUCCESS)
        return TLCRASH_EINTERNAL;

    auto fail = [&](tlcrash_error_t err) {
        tlcrash_async_mobject_free(&reader->linkedit);
        reader->image = nullptr;
        return err;
    };
    const uint64_t entrySize = image->m64 ? 16 : 12;
    const uint64_t base = tlcrash_async_mobject_base_address(&reader->linkedit);
    if (symtab.symoff < reader->linkedit_fileoff || symtab.stroff < reader->linkedit_fileoff)
        return fail(TLCRASH_EINTERNAL);
    reader->symtab = tlcrash_async_mobject_remap(&reader->linkedit, base + (symtab.symoff - reader->linkedit_fileoff),
                                                 0, uint64_t(symtab.nsyms) * entrySize);
    reader->string_table = static_cast<const char*>(tlcrash_async_mobject_remap(
        &reader->linkedit, base + (symtab.stroff - reader->linkedit_fileoff), 0, symtab.strsize));
    if ((reader->symtab == nullptr && symtab.nsyms != 0) || (reader->string_table == nullptr && symtab.strsize != 0))
        return fail(TLCRASH_EINTERNAL);
    reader->nsyms = symtab.nsyms;
    reader->string_table_size = symtab.strsize;

    if (dysymtabCmd != nullptr) {
        const uint64_t ilocal = swap32(image, at(dysymtabCmd, 8)), nlocal = swap32(image, at(dysymtabCmd, 12));
        const uint64_t iext = swap32(image, at(dysymtabCmd, 16)), next = swap32(image, at(dysymtabCmd, 20));
        // Summed in 64 bits: a 32-bit sum could wrap and pass the check with a range past the table.
        if (iext + next > symtab.nsyms || ilocal + nlocal > symtab.nsyms)
            return fail(TLCRASH_EINVAL);
        reader->symtab_global = at(reader->symtab, iext * entrySize);
        reader->nsyms_global = uint32_t(next);
        reader->symtab_local = at(reader->symtab, ilocal * entrySize);
        reader->nsyms_local = uint32_t(nlocal);
    }
    return TLCRASH_ESUCCESS;
}

void tlcrash_async_macho_symtab_reader_free(tlcrash_async_macho_symtab_reader* reader) {
    if (reader->image == nullptr)
        return;
    tlcrash_async_mobject_free(&reader->linkedit);
    reader->image = nullptr;
}

tlcrash_async_macho_symtab_entry tlcrash_async_macho_symtab_read_entry(const tlcrash_async_macho_symtab_reader* reader,
                                                                       const void* symtab, uint32_t index) {
    const tlcrash_async_macho_image* image = reader->image;
    const char* entry = at(symtab, uint64_t(index) * (image->m64 ? 16 : 12));
    tlcrash_async_macho_symtab_entry result;
    result.n_strx = swap32(image, entry);
    result.n_type = uint8_t(entry[4]);
    result.n_sect = uint8_t(entry[5]);
    uint16_t desc;
    tlcrash_async_memcpy(&desc, entry + 6, sizeof desc);
    result.n_desc = image->byteorder->swap16(desc);
    result.n_value = image->m64 ? swap64(image, entry + 8) : swap32(image, entry + 8);
    result.normalized_value = result.n_value;
    if (result.n_desc & 0x0008)
        result.normalized_value |= 1;
    return result;
}

namespace {

struct Best {
    bool found = false;
    tlcrash_async_macho_symtab_entry entry{};
};

void searchSymbols(const tlcrash_async_macho_symtab_reader* reader, const void* table, uint32_t count,
                   uint64_t relative_pc, Best* best) {
    for (uint32_t i = 0; i < count; ++i) {
        tlcrash_async_macho_symtab_entry entry = tlcrash_async_macho_symtab_read_entry(reader, table, i);
        if ((entry.n_type & 0xEE) != 0x0E || entry.n_value > relative_pc)
            continue;
        if (!best->found || entry.n_value > best->entry.n_value) {
            best->found = true;
            best->entry = entry;
        }
    }
}

}  // namespace

tlcrash_error_t tlcrash_async_macho_find_symbol(const tlcrash_async_macho_image* image, uint64_t pc,
                                                tlcrash_async_found_symbol_cb callback, void* context) {
    tlcrash_async_macho_symtab_reader reader;
    tlcrash_error_t err = tlcrash_async_macho_symtab_reader_init(&reader, image);
    if (err != TLCRASH_ESUCCESS)
        return err;
    const uint64_t relative = pc - image->vmaddr_slide;
    Best best;
    if (reader.symtab_global != nullptr && reader.symtab_local != nullptr) {
        searchSymbols(&reader, reader.symtab_global, reader.nsyms_global, relative, &best);
        searchSymbols(&reader, reader.symtab_local, reader.nsyms_local, relative, &best);
    } else {
        searchSymbols(&reader, reader.symtab, reader.nsyms, relative, &best);
    }

    if (!best.found) {
        err = TLCRASH_ENOTFOUND;
    } else {
        const uint64_t strx = best.entry.n_strx;
        bool terminated = false;
        for (uint64_t i = strx; i < reader.string_table_size; ++i) {
            if (reader.string_table[i] == '\0') {
                terminated = true;
                break;
            }
        }
        if (!terminated) {
            err = TLCRASH_EINVAL;
        } else {
            callback(image->vmaddr_slide + best.entry.normalized_value, reader.string_table + strx, context);
            err = TLCRASH_ESUCCESS;
        }
    }
    tlcrash_async_macho_symtab_reader_free(&reader);
    return err;
}

namespace {

struct BestName {
    bool found = false;
    uint64_t address = 0;
    char name[256] = {};
};

// Copies at most 255 characters and terminates.
void storeName(BestName* best, uint64_t address, const char* const* parts, size_t count) {
    size_t used = 0;
    for (size_t p = 0; p < count; ++p) {
        for (const char* c = parts[p]; *c != '\0' && used < sizeof best->name - 1; ++c)
            best->name[used++] = *c;
    }
    best->name[used] = '\0';
    best->found = true;
    best->address = address;
}

void symbolFound(uint64_t address, const char* name, void* context) {
    auto* best = static_cast<BestName*>(context);
    if (best->found && address < best->address)
        return;
    const char* parts[] = {name};
    storeName(best, address, parts, 1);
}

void methodFound(bool is_meta, tlcrash_async_task_string* class_name, tlcrash_async_task_string* method_name,
                 uint64_t imp, void* context) {
    auto* best = static_cast<BestName*>(context);
    if (best->found && imp < best->address)
        return;
    const char* cls = nullptr;
    const char* method = nullptr;
    if (tlcrash_async_task_string_pointer(class_name, &cls) != TLCRASH_ESUCCESS ||
        tlcrash_async_task_string_pointer(method_name, &method) != TLCRASH_ESUCCESS)
        return;
    const char* parts[] = {is_meta ? "+[" : "-[", cls, " ", method, "]"};
    storeName(best, imp, parts, 5);
}

}  // namespace

tlcrash_error_t tlcrash_async_symbolicate(const tlcrash_async_macho_image* image, uint32_t strategy,
                                          tlcrash_async_objc_cache* cache, uint64_t pc,
                                          tlcrash_async_found_symbol_cb callback, void* context) {
    BestName best;
    tlcrash_error_t symbolErr = TLCRASH_ENOTFOUND;
    if (strategy & TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE)
        symbolErr = tlcrash_async_macho_find_symbol(image, pc, symbolFound, &best);
    tlcrash_error_t objcErr = TLCRASH_ENOTFOUND;
    const bool objc = (strategy & TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC) != 0;
    if (objc)
        objcErr = tlcrash_async_objc_find_method(image, cache, pc, methodFound, &best);
    if (symbolErr != TLCRASH_ESUCCESS && (!objc || objcErr != TLCRASH_ESUCCESS))
        return symbolErr;
    if (!best.found)
        return TLCRASH_EINTERNAL;
    callback(best.address, best.name, context);
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t tlcrash_async_task_string_init(tlcrash_async_task_string* string,
                                               const tlcrash_async_macho_image* image, uint64_t address) {
    string->image = image;
    string->address = address;
    string->mapped = false;
    string->length = 0;
    return TLCRASH_ESUCCESS;
}

namespace {

// Longest name looked for; a run without a NUL this long is not a name.
constexpr uint64_t kMaxStringPages = 16;

tlcrash_error_t mapString(tlcrash_async_task_string* string) {
    if (string->mapped)
        return TLCRASH_ESUCCESS;
    const uint64_t page = tlcrash_async_page_size();
    const uint64_t within = string->address & (page - 1);
    for (uint64_t pages = 1; pages <= kMaxStringPages; ++pages) {
        tlcrash_async_mobject mobj;
        const uint64_t span = pages * page - within;
        if (tlcrash_async_mobject_init(&mobj, string->image->task, string->address, span, false) != TLCRASH_ESUCCESS)
            return TLCRASH_EINVAL;
        const char* text =
            static_cast<const char*>(tlcrash_async_mobject_remap(&mobj, string->address, 0, mobj.length));
        const uint64_t readable = text != nullptr ? mobj.length : 0;
        for (uint64_t i = 0; i < readable; ++i) {
            if (text[i] == '\0') {
                string->mobj = mobj;
                string->length = i;
                string->mapped = true;
                return TLCRASH_ESUCCESS;
            }
        }
        tlcrash_async_mobject_free(&mobj);
        if (readable < span)
            return TLCRASH_EINVAL;
    }
    return TLCRASH_EINVAL;
}

}  // namespace

tlcrash_error_t tlcrash_async_task_string_length(tlcrash_async_task_string* string, uint64_t* length) {
    tlcrash_error_t err = mapString(string);
    if (err != TLCRASH_ESUCCESS)
        return err;
    *length = string->length;
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t tlcrash_async_task_string_pointer(tlcrash_async_task_string* string, const char** pointer) {
    tlcrash_error_t err = mapString(string);
    if (err != TLCRASH_ESUCCESS)
        return err;
    *pointer = static_cast<const char*>(tlcrash_async_mobject_remap(&string->mobj, string->address, 0, string->length + 1));
    return *pointer != nullptr ? TLCRASH_ESUCCESS : TLCRASH_EACCESS;
}

void tlcrash_async_task_string_free(tlcrash_async_task_string* string) {
    if (string->mapped)
        tlcrash_async_mobject_free(&string->mobj);
    string->mapped = false;
}
