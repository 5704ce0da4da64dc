#include "analytics/crash/AsyncCompactUnwind.h"

#include "analytics/crash/AsyncMachoReader.h"

namespace {

constexpr uint32_t kModeMask = 0x0F000000;
constexpr uint32_t kPc = 0;
constexpr uint32_t kFp = 1;
constexpr uint32_t kSp = 2;
constexpr uint32_t kArm64Lr = 32;

uint32_t arm64X(uint32_t n) { return 3 + n; }

tlcrash_error_t readU32(const tlcrash_async_compact_unwind_reader* reader, uint64_t address, uint32_t* value) {
    return tlcrash_async_mobject_read_uint32(reader->mobj, reader->byteorder, address, 0, value);
}

tlcrash_error_t readU16(const tlcrash_async_compact_unwind_reader* reader, uint64_t address, uint16_t* value) {
    return tlcrash_async_mobject_read_uint16(reader->mobj, reader->byteorder, address, 0, value);
}

// Index of the last of count sorted keys at or below target, or -1.
template <typename KeyAt>
int64_t lastAtOrBelow(uint64_t count, uint64_t target, KeyAt keyAt) {
    int64_t low = 0, high = int64_t(count) - 1, found = -1;
    while (low <= high) {
        const int64_t mid = low + (high - low) / 2;
        if (keyAt(uint64_t(mid)) <= target) {
            found = mid;
            low = mid + 1;
        } else {
            high = mid - 1;
        }
    }
    return found;
}

void appendRegister(tlcrash_async_compact_unwind_entry* entry, uint32_t regnum) {
    if (entry->register_count < TLCRASH_ASYNC_CFE_SAVED_REGISTER_MAX)
        entry->registers[entry->register_count++] = regnum;
}

}  // namespace

tlcrash_error_t tlcrash_async_compact_unwind_reader_init(tlcrash_async_compact_unwind_reader* reader,
                                                         const tlcrash_async_mobject* mobj, uint32_t cputype) {
    reader->mobj = mobj;
    reader->cputype = cputype;
    reader->byteorder = tlcrash_async_byteorder_native();
    if (cputype != TLCRASH_CPU_TYPE_X86 && cputype != TLCRASH_CPU_TYPE_X86_64 && cputype != TLCRASH_CPU_TYPE_ARM64)
        return TLCRASH_ENOTSUP;
    const void* header = tlcrash_async_mobject_remap(mobj, tlcrash_async_mobject_base_address(mobj), 0, 28);
    if (header == nullptr)
        return TLCRASH_EINVAL;
    uint32_t fields[7];
    tlcrash_async_memcpy(fields, header, sizeof fields);
    reader->header.version = fields[0];
    reader->header.common_encodings_offset = fields[1];
    reader->header.common_encodings_count = fields[2];
    reader->header.personality_offset = fields[3];
    reader->header.personality_count = fields[4];
    reader->header.index_offset = fields[5];
    reader->header.index_count = fields[6];
    if (reader->header.version != 1)
        return TLCRASH_ENOTSUP;
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t tlcrash_async_compact_unwind_reader_find_pc(const tlcrash_async_compact_unwind_reader* reader,
                                                            uint64_t pc, uint32_t* function_offset,
                                                            uint32_t* encoding) {
    const uint64_t base = tlcrash_async_mobject_base_address(reader->mobj);
    const uint64_t common = base + reader->header.common_encodings_offset;
    const uint32_t commonCount = reader->header.common_encodings_count;
    if (commonCount != 0 && tlcrash_async_mobject_remap(reader->mobj, common, 0, uint64_t(commonCount) * 4) == nullptr)
        return TLCRASH_EINVAL;

    const uint32_t indexCount = reader->header.index_count;
    if (indexCount == 0)
        return TLCRASH_ENOTFOUND;
    // The sentinel is read too: it bounds the last searchable entry from above.
    const uint64_t index = base + reader->header.index_offset;
    if (tlcrash_async_mobject_remap(reader->mobj, index, 0, uint64_t(indexCount) * 12) == nullptr)
        return TLCRASH_EINVAL;
    auto indexFunction = [&](uint64_t i) {
        uint32_t v = 0;
        readU32(reader, index + i * 12, &v);
        return uint64_t(v);
    };
    if (pc >= indexFunction(indexCount - 1))
        return TLCRASH_ENOTFOUND;
    const int64_t first = lastAtOrBelow(indexCount - 1, pc, indexFunction);
    if (first < 0)
        return TLCRASH_ENOTFOUND;
    const uint32_t firstFunction = uint32_t(indexFunction(uint64_t(first)));
    uint32_t pageOffset = 0;
    if (readU32(reader, index + uint64_t(first) * 12 + 4, &pageOffset) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;
    const uint64_t page = base + pageOffset;
    uint32_t kind = 0;
    if (readU32(reader, page, &kind) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;

    uint16_t entriesOffset = 0, entryCount = 0;
    if (readU16(reader, page + 4, &entriesOffset) != TLCRASH_ESUCCESS ||
        readU16(reader, page + 6, &entryCount) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;
    const uint64_t entries = page + entriesOffset;

    if (kind == 2) {
        if (tlcrash_async_mobject_remap(reader->mobj, entries, 0, uint64_t(entryCount) * 8) == nullptr)
            return TLCRASH_EINVAL;
        const int64_t found = lastAtOrBelow(entryCount, pc, [&](uint64_t i) {
            uint32_t v = 0;
            readU32(reader, entries + i * 8, &v);
            return uint64_t(v);
        });
        if (found < 0)
            return TLCRASH_ENOTFOUND;
        readU32(reader, entries + uint64_t(found) * 8, function_offset);
        readU32(reader, entries + uint64_t(found) * 8 + 4, encoding);
        return TLCRASH_ESUCCESS;
    }
    if (kind != 3)
        return TLCRASH_EINVAL;

    uint16_t encodingsOffset = 0, encodingsCount = 0;
    if (readU16(reader, page + 8, &encodingsOffset) != TLCRASH_ESUCCESS ||
        readU16(reader, page + 10, &encodingsCount) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;
    if (tlcrash_async_mobject_remap(reader->mobj, entries, 0, uint64_t(entryCount) * 4) == nullptr)
        return TLCRASH_EINVAL;
    auto entryAt = [&](uint64_t i) {
        uint32_t v = 0;
        readU32(reader, entries + i * 4, &v);
        return v;
    };
    const int64_t found =
        lastAtOrBelow(entryCount, pc, [&](uint64_t i) { return uint64_t(entryAt(i) & 0xFFFFFF) + firstFunction; });
    if (found < 0)
        return TLCRASH_ENOTFOUND;
    const uint32_t packed = entryAt(uint64_t(found));
    const uint32_t encodingIndex = packed >> 24;
    uint32_t value = 0;
    if (encodingIndex < commonCount) {
        if (readU32(reader, common + uint64_t(encodingIndex) * 4, &value) != TLCRASH_ESUCCESS)
            return TLCRASH_EINVAL;
    } else {
        const uint32_t local = encodingIndex - commonCount;
        if (local >= encodingsCount ||
            readU32(reader, page + encodingsOffset + uint64_t(local) * 4, &value) != TLCRASH_ESUCCESS)
            return TLCRASH_EINVAL;
    }
    *function_offset = (packed & 0xFFFFFF) + firstFunction;
    *encoding = value;
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t tlcrash_async_compact_unwind_map_register(uint32_t cputype, uint32_t code, uint32_t* regnum) {
    static constexpr uint32_t x86[7] = {TLCRASH_ASYNC_CFE_NO_REGISTER, 6, 5, 4, 8, 7, 1};
    static constexpr uint32_t x86_64[7] = {TLCRASH_ASYNC_CFE_NO_REGISTER, 4, 13, 14, 15, 16, 1};
    if (code > 6)
        return TLCRASH_EINVAL;
    *regnum = cputype == TLCRASH_CPU_TYPE_X86 ? x86[code] : x86_64[code];
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t tlcrash_async_compact_unwind_decode_permutation(uint32_t count, uint32_t permutation,
                                                               uint32_t codes[6]) {
    if (count > 6)
        return TLCRASH_EINVAL;
    uint32_t digits[6] = {};
    uint32_t p = permutation;
    switch (count) {
    case 6:
    case 5:
        digits[0] = p / 120;
        p %= 120;
        digits[1] = p / 24;
        p %= 24;
        digits[2] = p / 6;
        p %= 6;
        digits[3] = p / 2;
        digits[4] = p % 2;
        break;
    case 4:
        digits[0] = p / 60;
        p %= 60;
        digits[1] = p / 12;
        p %= 12;
        digits[2] = p / 3;
        digits[3] = p % 3;
        break;
    case 3:
        digits[0] = p / 20;
        p %= 20;
        digits[1] = p / 4;
        digits[2] = p % 4;
        break;
    case 2:
        digits[0] = p / 5;
        digits[1] = p % 5;
        break;
    case 1:
        digits[0] = p;
        break;
    default:
        return TLCRASH_ESUCCESS;
    }
    bool used[7] = {};
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t seen = 0;
        bool chosen = false;
        for (uint32_t code = 1; code <= 6; ++code) {
            if (used[code])
                continue;
            if (seen++ == digits[i]) {
                used[code] = true;
                codes[i] = code;
                chosen = true;
                break;
            }
        }
        if (!chosen)
            return TLCRASH_EINVAL;
    }
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t tlcrash_async_compact_unwind_entry_init(tlcrash_async_compact_unwind_entry* entry, uint32_t cputype,
                                                        uint32_t encoding) {
    tlcrash_async_memset(entry, 0, sizeof *entry);
    entry->cputype = cputype;
    entry->return_address_register = TLCRASH_ASYNC_CFE_NO_REGISTER;
    for (uint32_t& r : entry->registers)
        r = TLCRASH_ASYNC_CFE_NO_REGISTER;
    const uint32_t mode = encoding & kModeMask;

    if (cputype == TLCRASH_CPU_TYPE_ARM64) {
        auto savedPairs = [&] {
            static constexpr struct {
                uint32_t flag, first, second;
            } pairs[] = {{0x10, 28, 27}, {0x08, 26, 25}, {0x04, 24, 23}, {0x02, 22, 21}, {0x01, 20, 19}};
            for (const auto& pair : pairs) {
                if (encoding & pair.flag) {
                    appendRegister(entry, arm64X(pair.first));
                    appendRegister(entry, arm64X(pair.second));
                }
            }
        };
        switch (mode) {
        case 0x00000000:
            entry->type = TLCRASH_ASYNC_CFE_ENTRY_TYPE_NONE;
            return TLCRASH_ESUCCESS;
        case 0x02000000:
            entry->type = TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD;
            entry->stack_value = int64_t((encoding >> 12) & 0xFFF) * 16;
            entry->return_address_register = kArm64Lr;
            savedPairs();
            return TLCRASH_ESUCCESS;
        case 0x03000000:
            entry->type = TLCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF;
            entry->stack_value = encoding & 0x00FFFFFF;
            return TLCRASH_ESUCCESS;
        case 0x04000000:
            entry->type = TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR;
            savedPairs();
            entry->stack_value = -8 * int64_t(entry->register_count);
            return TLCRASH_ESUCCESS;
        default:
            return TLCRASH_ENOTSUP;
        }
    }
    if (cputype != TLCRASH_CPU_TYPE_X86 && cputype != TLCRASH_CPU_TYPE_X86_64)
        return TLCRASH_ENOTSUP;

    const int64_t word = cputype == TLCRASH_CPU_TYPE_X86 ? 4 : 8;
    auto permutedRegisters = [&]() -> tlcrash_error_t {
        const uint32_t count = (encoding >> 10) & 0x7;
        uint32_t codes[6] = {};
        tlcrash_error_t err = tlcrash_async_compact_unwind_decode_permutation(count, encoding & 0x3FF, codes);
        if (err != TLCRASH_ESUCCESS)
            return err;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t regnum;
            if ((err = tlcrash_async_compact_unwind_map_register(cputype, codes[i], &regnum)) != TLCRASH_ESUCCESS)
                return err;
            appendRegister(entry, regnum);
        }
        return TLCRASH_ESUCCESS;
    };

    switch (mode) {
    case 0x00000000:
        entry->type = TLCRASH_ASYNC_CFE_ENTRY_TYPE_NONE;
        return TLCRASH_ESUCCESS;
    case 0x01000000: {
        entry->type = TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR;
        entry->stack_value = -word * int64_t((encoding >> 16) & 0xFF);
        uint32_t codes = encoding & 0x7FFF;
        while (codes != 0 && entry->register_count < TLCRASH_ASYNC_CFE_SAVED_REGISTER_MAX) {
            uint32_t regnum;
            tlcrash_error_t err = tlcrash_async_compact_unwind_map_register(cputype, codes & 0x7, &regnum);
            if (err != TLCRASH_ESUCCESS)
                return err;
            appendRegister(entry, regnum);
            codes >>= 3;
        }
        return TLCRASH_ESUCCESS;
    }
    case 0x02000000:
        entry->type = TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD;
        entry->stack_value = word * int64_t((encoding >> 16) & 0xFF);
        return permutedRegisters();
    case 0x03000000:
        entry->type = TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT;
        entry->stack_value = (encoding >> 16) & 0xFF;
        entry->stack_adjust = uint32_t(word) * ((encoding >> 13) & 0x7);
        return permutedRegisters();
    case 0x04000000:
        entry->type = TLCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF;
        entry->stack_value = encoding & 0x00FFFFFF;
        return TLCRASH_ESUCCESS;
    default:
        return TLCRASH_ENOTSUP;
    }
}

tlcrash_error_t tlcrash_async_compact_unwind_apply(tlcrash_task_t task, uint64_t function_address,
                                                   const tlcrash_async_thread_state* current,
                                                   const tlcrash_async_compact_unwind_entry* entry,
                                                   tlcrash_async_thread_state* next) {
    const uint64_t word = tlcrash_async_thread_state_greg_size(current);
    tlcrash_async_thread_state_copy(next, current);
    tlcrash_async_thread_state_clear_volatile_regs(next);

    auto readWord = [&](uint64_t address, uint64_t* value) -> tlcrash_error_t {
        if (word == 4) {
            uint32_t v = 0;
            tlcrash_error_t err = tlcrash_async_task_memcpy(task, address, 0, &v, 4);
            *value = v;
            return err;
        }
        return tlcrash_async_task_memcpy(task, address, 0, value, 8);
    };

    uint64_t area = 0;
    uint64_t pc = 0;
    tlcrash_error_t err;
    switch (entry->type) {
    case TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD:
    case TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT: {
        if (!tlcrash_async_thread_state_has_reg(current, kSp))
            return TLCRASH_ENOTFOUND;
        uint64_t stackSize = uint64_t(entry->stack_value);
        if (entry->type == TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT) {
            uint32_t immediate = 0;
            if ((err = tlcrash_async_task_memcpy(task, function_address, entry->stack_value, &immediate, 4)) !=
                TLCRASH_ESUCCESS)
                return err;
            stackSize = uint64_t(entry->stack_adjust) + immediate;
        }
        uint64_t sp;
        if (__builtin_add_overflow(tlcrash_async_thread_state_get_reg(current, kSp), stackSize, &sp))
            return TLCRASH_EINVAL;
        const uint64_t saved = uint64_t(entry->register_count) * word;
        if (entry->return_address_register == TLCRASH_ASYNC_CFE_NO_REGISTER) {
            if (sp < word + saved)
                return TLCRASH_EINVAL;
            if ((err = readWord(sp - word, &pc)) != TLCRASH_ESUCCESS)
                return err;
            area = sp - word - saved;
        } else {
            if (!tlcrash_async_thread_state_has_reg(current, entry->return_address_register))
                return TLCRASH_ENOTFOUND;
            if (sp < saved)
                return TLCRASH_EINVAL;
            pc = tlcrash_async_thread_state_get_reg(current, entry->return_address_register);
            area = sp - saved;
        }
        tlcrash_async_thread_state_set_reg(next, kSp, sp);
        break;
    }
    case TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR: {
        if (!tlcrash_async_thread_state_has_reg(current, kFp))
            return TLCRASH_ENOTFOUND;
        const uint64_t fp = tlcrash_async_thread_state_get_reg(current, kFp);
        uint64_t sp;
        if (__builtin_add_overflow(fp, 2 * word, &sp))
            return TLCRASH_EINVAL;
        uint64_t savedFp = 0;
        if ((err = readWord(fp, &savedFp)) != TLCRASH_ESUCCESS || (err = readWord(fp + word, &pc)) != TLCRASH_ESUCCESS)
            return err;
        if (!tlcrash_async_address_apply_offset(fp, entry->stack_value, &area))
            return TLCRASH_EINVAL;
        tlcrash_async_thread_state_set_reg(next, kSp, sp);
        tlcrash_async_thread_state_set_reg(next, kFp, savedFp);
        break;
    }
    default:
        return TLCRASH_ENOTSUP;
    }

    tlcrash_async_thread_state_set_reg(next, kPc, pc);
    for (uint32_t i = 0; i < entry->register_count; ++i) {
        if (entry->registers[i] == TLCRASH_ASYNC_CFE_NO_REGISTER)
            continue;
        uint64_t value = 0;
        if ((err = readWord(area + uint64_t(i) * word, &value)) != TLCRASH_ESUCCESS)
            return err;
        tlcrash_async_thread_state_set_reg(next, entry->registers[i], value);
    }
    return TLCRASH_ESUCCESS;
}

tlcrash_unwind_error_t tlcrash_async_read_compact_unwind_frame(tlcrash_task_t task, tlcrash_async_image_list* images,
                                                              const tlcrash_async_thread_state* current,
                                                              const tlcrash_async_thread_state* previous,
                                                              tlcrash_async_thread_state* next) {
    if (!tlcrash_async_thread_state_has_reg(current, kPc))
        return TLCRASH_UNWIND_BAD_FRAME;
    const uint64_t lookup =
        tlcrash_async_unwind_lookup_pc(tlcrash_async_thread_state_get_reg(current, kPc), previous != nullptr);
    // Without an image list (or before images are known) there is nothing to look up.
    if (images == nullptr || images->list == nullptr)
        return TLCRASH_UNWIND_NOT_SUPPORTED;

    tlcrash_async_image_list_set_reading(images, true);
    tlcrash_unwind_error_t result = TLCRASH_UNWIND_NOT_SUPPORTED;
    tlcrash_async_macho_image* image = tlcrash_async_image_containing_address(images, lookup);
    tlcrash_async_mobject section;
    if (image != nullptr &&
        tlcrash_async_macho_image_map_section(image, "__TEXT", "__unwind_info", &section) == TLCRASH_ESUCCESS) {
        tlcrash_async_compact_unwind_reader reader;
        uint32_t functionOffset = 0, encoding = 0;
        tlcrash_async_compact_unwind_entry entry;
        uint64_t function = 0;
        if (tlcrash_async_compact_unwind_reader_init(&reader, &section, tlcrash_async_macho_image_cpu_type(image)) !=
            TLCRASH_ESUCCESS) {
            result = TLCRASH_UNWIND_INVALID;
        } else if (tlcrash_async_compact_unwind_reader_find_pc(&reader, lookup - image->header_addr, &functionOffset,
                                                               &encoding) != TLCRASH_ESUCCESS ||
                   tlcrash_async_compact_unwind_entry_init(&entry, reader.cputype, encoding) != TLCRASH_ESUCCESS) {
            result = TLCRASH_UNWIND_NOT_SUPPORTED;
        } else if (entry.type == TLCRASH_ASYNC_CFE_ENTRY_TYPE_NONE) {
            result = TLCRASH_UNWIND_NO_FRAME;
        } else if (!tlcrash_async_address_apply_offset(image->header_addr, functionOffset, &function)) {
            result = TLCRASH_UNWIND_INVALID;
        } else {
            result = tlcrash_async_compact_unwind_apply(task, function, current, &entry, next) == TLCRASH_ESUCCESS
                         ? TLCRASH_UNWIND_ESUCCESS
                         : TLCRASH_UNWIND_NO_FRAME;
        }
        tlcrash_async_mobject_free(&section);
    }
    tlcrash_async_image_list_set_reading(images, false);
    return result;
}
