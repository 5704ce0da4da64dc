#include "analytics/crash/AsyncDwarfCfi.h"

#include "analytics/crash/AsyncMachoReader.h"

namespace tlcrash::Tally::async {

namespace {

// The length field of a CIE or FDE: the 32-bit form, or 0xFFFFFFFF and a 64-bit length.
struct entry_head {
    uint64_t length;
    uint64_t header_size;  // 4 or 12
    bool m64;
};

tlcrash_error_t read_entry_head(const tlcrash_async_mobject* mobj, const Tallytlcrash_async_byteorder* byteorder,
                                uint64_t address, entry_head* head) {
    uint32_t length32 = 0;
    if (tlcrash_async_mobject_read_uint32(mobj, byteorder, address, 0, &length32) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;
    if (length32 == 0xFFFFFFFF) {
        if (tlcrash_async_mobject_read_uint64(mobj, byteorder, address, 4, &head->length) != TLCRASH_ESUCCESS)
            return TLCRASH_EINVAL;
        head->header_size = 12;
        head->m64 = true;
    } else {
        head->length = length32;
        head->header_size = 4;
        head->m64 = false;
    }
    return TLCRASH_ESUCCESS;
}

// The CIE id or CIE pointer field that follows the length.
tlcrash_error_t read_id_field(const tlcrash_async_mobject* mobj, const Tallytlcrash_async_byteorder* byteorder,
                              uint64_t address, bool m64, uint64_t* value) {
    if (m64)
        return tlcrash_async_mobject_read_uint64(mobj, byteorder, address, 0, value) == TLCRASH_ESUCCESS
                   ? TLCRASH_ESUCCESS
                   : TLCRASH_EINVAL;
    uint32_t v = 0;
    if (tlcrash_async_mobject_read_uint32(mobj, byteorder, address, 0, &v) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;
    *value = v;
    return TLCRASH_ESUCCESS;
}

bool is_cie_id(uint64_t id, bool m64, bool debug_frame) {
    if (!debug_frame)
        return id == 0;
    return m64 ? id == UINT64_MAX : id == 0xFFFFFFFF;
}

}  // namespace

template <typename machine_ptr>
tlcrash_error_t tlcrash_async_dwarf_cie_info_init(tlcrash_async_dwarf_cie_info* info,
                                                  const tlcrash_async_mobject* mobj,
                                                  const Tallytlcrash_async_byteorder* byteorder,
                                                  const gnu_ehptr_reader<machine_ptr>* ptr_reader, uint64_t address) {
    tlcrash_async_memset(info, 0, sizeof *info);
    const uint64_t section = tlcrash_async_mobject_base_address(mobj);
    if (address < section)
        return TLCRASH_EINVAL;
    entry_head head;
    tlcrash_error_t err = read_entry_head(mobj, byteorder, address, &head);
    if (err != TLCRASH_ESUCCESS)
        return err;
    uint64_t content;
    if (__builtin_add_overflow(address, head.header_size, &content))
        return TLCRASH_EINVAL;
    info->cie_offset = content - section;
    info->cie_length = head.length;

    dwarf_stream stream;
    // The stream covers what the object holds from the content on; the length bounds nothing
    // the object does not already bound.
    const uint64_t available = tlcrash_async_mobject_length(mobj) - (content - section);
    if (content - section > tlcrash_async_mobject_length(mobj) ||
        stream.init(mobj, byteorder, content, 0, available) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;

    if (head.m64) {
        if (stream.read_u64(&info->cie_id) != TLCRASH_ESUCCESS)
            return TLCRASH_EINVAL;
        if (info->cie_id != 0 && info->cie_id != UINT64_MAX)
            return TLCRASH_EINVAL;
    } else {
        uint32_t id = 0;
        if (stream.read_u32(&id) != TLCRASH_ESUCCESS)
            return TLCRASH_EINVAL;
        if (id != 0 && id != 0xFFFFFFFF)
            return TLCRASH_EINVAL;
        info->cie_id = id;
    }

    if (stream.read_u8(&info->cie_version) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;
    if (info->cie_version != 1 && info->cie_version != 3 && info->cie_version != 4)
        return TLCRASH_EINVAL;

    const uint64_t augmentation = stream.position();
    uint8_t c = 0;
    if (stream.read_u8(&c) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;
    if (c != 0 && c != 'z')
        return TLCRASH_ENOTSUP;
    info->augmentation.data_present = c == 'z';
    while (c != 0) {
        if (stream.read_u8(&c) != TLCRASH_ESUCCESS)
            return TLCRASH_EINVAL;
    }

    if (info->cie_version == 4) {
        if (stream.read_u8(&info->address_size) != TLCRASH_ESUCCESS ||
            stream.read_u8(&info->segment_size) != TLCRASH_ESUCCESS)
            return TLCRASH_EINVAL;
    }
    if ((err = stream.read_uleb(&info->code_alignment_factor)) != TLCRASH_ESUCCESS ||
        (err = stream.read_sleb(&info->data_alignment_factor)) != TLCRASH_ESUCCESS ||
        (err = stream.read_uleb(&info->return_address_register)) != TLCRASH_ESUCCESS)
        return err;

    if (info->augmentation.data_present) {
        uint64_t data_length = 0;
        if ((err = stream.read_uleb(&data_length)) != TLCRASH_ESUCCESS)
            return err;
        const uint64_t data = stream.position();
        // Walk the letters after "z"; an unknown one ends the walk, the length still counts.
        uint64_t letter = augmentation + 1;
        for (;;) {
            uint8_t ch = 0;
            if (tlcrash_async_mobject_read_uint8(mobj, letter, 0, &ch) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            ++letter;
            if (ch == 'L') {
                info->augmentation.has_lsda_encoding = true;
                if (stream.read_u8(&info->augmentation.lsda_encoding) != TLCRASH_ESUCCESS)
                    return TLCRASH_EINVAL;
            } else if (ch == 'P') {
                uint8_t encoding = 0;
                if (stream.read_u8(&encoding) != TLCRASH_ESUCCESS)
                    return TLCRASH_EINVAL;
                machine_ptr personality = 0;
                uint64_t size = 0;
                if ((err = ptr_reader->read(mobj, stream.position(), 0, encoding, &personality, &size)) !=
                    TLCRASH_ESUCCESS)
                    return err;
                if (!stream.skip(size))
                    return TLCRASH_EINVAL;
                info->augmentation.has_personality_address = true;
                info->augmentation.personality_address = personality;
            } else if (ch == 'R') {
                info->augmentation.has_pointer_encoding = true;
                if (stream.read_u8(&info->augmentation.pointer_encoding) != TLCRASH_ESUCCESS)
                    return TLCRASH_EINVAL;
            } else if (ch == 'S') {
                info->augmentation.signal_frame = true;
            } else {
                break;
            }
        }
        if (!stream.seek(data) || !stream.skip(data_length))
            return TLCRASH_EINVAL;
    }

    const uint64_t instructions = stream.position();
    const uint64_t used = instructions - content;
    if (used > head.length)
        return TLCRASH_EINVAL;
    info->initial_instructions_offset = instructions - section;
    info->initial_instructions_length = head.length - used;
    return TLCRASH_ESUCCESS;
}

template <typename machine_ptr>
tlcrash_error_t tlcrash_async_dwarf_fde_info_init(tlcrash_async_dwarf_fde_info* info,
                                                  const tlcrash_async_mobject* mobj,
                                                  const Tallytlcrash_async_byteorder* byteorder,
                                                  uint64_t fde_address, bool debug_frame) {
    tlcrash_async_memset(info, 0, sizeof *info);
    const uint64_t section = tlcrash_async_mobject_base_address(mobj);
    if (fde_address < section)
        return TLCRASH_EINVAL;
    entry_head head;
    tlcrash_error_t err = read_entry_head(mobj, byteorder, fde_address, &head);
    if (err != TLCRASH_ESUCCESS)
        return err;
    uint64_t content;
    if (__builtin_add_overflow(fde_address, head.header_size, &content))
        return TLCRASH_EINVAL;
    info->fde_offset = content - section;
    info->fde_length = head.length;

    uint64_t field = 0;
    if ((err = read_id_field(mobj, byteorder, content, head.m64, &field)) != TLCRASH_ESUCCESS)
        return err;
    uint64_t cie_address;
    if (debug_frame) {
        if (int64_t(field) < 0 || __builtin_add_overflow(section, field, &cie_address))
            return TLCRASH_EINVAL;
    } else {
        if (__builtin_sub_overflow(content, field, &cie_address) || cie_address < section)
            return TLCRASH_EINVAL;
    }
    info->cie_offset = cie_address - section;

    gnu_ehptr_reader<machine_ptr> cie_reader(byteorder);
    tlcrash_async_dwarf_cie_info cie;
    if ((err = tlcrash_async_dwarf_cie_info_init<machine_ptr>(&cie, mobj, byteorder, &cie_reader, cie_address)) !=
        TLCRASH_ESUCCESS)
        return err;

    const uint8_t encoding = cie.augmentation.data_present && cie.augmentation.has_pointer_encoding
                                 ? cie.augmentation.pointer_encoding
                                 : 0;
    gnu_ehptr_reader<machine_ptr> reader(byteorder);
    uint64_t position = content + (head.m64 ? 8 : 4);
    machine_ptr pc_start = 0, range = 0;
    uint64_t size = 0;
    if ((err = reader.read(mobj, position, 0, encoding, &pc_start, &size)) != TLCRASH_ESUCCESS)
        return err;
    position += size;
    if ((err = reader.read(mobj, position, 0, encoding & 0x0F, &range, &size)) != TLCRASH_ESUCCESS)
        return err;
    position += size;
    machine_ptr pc_end;
    if (__builtin_add_overflow(pc_start, range, &pc_end))
        return TLCRASH_EINVAL;
    info->pc_start = pc_start;
    info->pc_end = pc_end;

    if (cie.augmentation.data_present) {
        uint64_t length = 0;
        if ((err = tlcrash_async_dwarf_read_uleb128(mobj, position, 0, &length, &size)) != TLCRASH_ESUCCESS)
            return err;
        if (__builtin_add_overflow(position, size, &position) || __builtin_add_overflow(position, length, &position))
            return TLCRASH_EINVAL;
    }
    const uint64_t used = position - content;
    if (used > head.length)
        return TLCRASH_EINVAL;
    info->instructions_offset = position - section;
    info->instructions_length = head.length - used;
    return TLCRASH_ESUCCESS;
}

// ---- the row and its remembered copies ----

template <typename machine_ptr, typename machine_ptr_s>
dwarf_cfa_state<machine_ptr, machine_ptr_s>::dwarf_cfa_state() {
    for (uint8_t level = 0; level < kLevels; ++level) {
        cfa_[level] = dwarf_cfa_rule<machine_ptr, machine_ptr_s>();
        register_count_[level] = 0;
        for (uint8_t b = 0; b < kBuckets; ++b)
            buckets_[level][b] = kEmpty;
    }
    for (uint8_t i = 0; i < kEntries; ++i) {
        entries_[i].value = 0;
        entries_[i].regnum = 0;
        entries_[i].rule = TLCRASH_DWARF_CFA_REG_RULE_OFFSET;
        entries_[i].next = i + 1 < kEntries ? uint8_t(i + 1) : kEmpty;
    }
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_register(uint32_t regnum, tlcrash_dwarf_cfa_reg_rule_t rule,
                                                               machine_ptr value) {
    uint8_t* link = &buckets_[level_][regnum % kBuckets];
    while (*link != kEmpty) {
        entry& e = entries_[*link];
        if (e.regnum == regnum) {
            e.rule = rule;
            e.value = value;
            return true;
        }
        link = &e.next;
    }
    if (free_list_ == kEmpty)
        return false;
    const uint8_t index = free_list_;
    free_list_ = entries_[index].next;
    entries_[index] = entry{value, regnum, rule, kEmpty};
    *link = index;
    ++register_count_[level_];
    return true;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::get_register_rule(uint32_t regnum,
                                                                    tlcrash_dwarf_cfa_reg_rule_t* rule,
                                                                    machine_ptr* value) const {
    for (uint8_t i = buckets_[level_][regnum % kBuckets]; i != kEmpty; i = entries_[i].next) {
        if (entries_[i].regnum == regnum) {
            *rule = entries_[i].rule;
            *value = entries_[i].value;
            return true;
        }
    }
    return false;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::remove_register(uint32_t regnum) {
    uint8_t* link = &buckets_[level_][regnum % kBuckets];
    while (*link != kEmpty) {
        const uint8_t index = *link;
        if (entries_[index].regnum == regnum) {
            *link = entries_[index].next;
            entries_[index].next = free_list_;
            free_list_ = index;
            --register_count_[level_];
            return;
        }
        link = &entries_[index].next;
    }
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_cfa_register(uint32_t regnum, machine_ptr offset) {
    cfa_[level_] = dwarf_cfa_rule<machine_ptr, machine_ptr_s>();
    cfa_[level_].kind = DWARF_CFA_STATE_CFA_TYPE_REGISTER;
    cfa_[level_].reg = regnum;
    cfa_[level_].offset = offset;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_cfa_register_signed(uint32_t regnum, machine_ptr_s offset) {
    cfa_[level_] = dwarf_cfa_rule<machine_ptr, machine_ptr_s>();
    cfa_[level_].kind = DWARF_CFA_STATE_CFA_TYPE_REGISTER_SIGNED;
    cfa_[level_].reg = regnum;
    cfa_[level_].offset = machine_ptr(offset);
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_cfa_expression(uint64_t address, uint64_t length) {
    cfa_[level_] = dwarf_cfa_rule<machine_ptr, machine_ptr_s>();
    cfa_[level_].kind = DWARF_CFA_STATE_CFA_TYPE_EXPRESSION;
    cfa_[level_].expression_address = address;
    cfa_[level_].expression_length = length;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::release_level(uint8_t level) {
    for (uint8_t b = 0; b < kBuckets; ++b) {
        uint8_t i = buckets_[level][b];
        while (i != kEmpty) {
            const uint8_t next = entries_[i].next;
            entries_[i].next = free_list_;
            free_list_ = i;
            i = next;
        }
        buckets_[level][b] = kEmpty;
    }
    register_count_[level] = 0;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::push_state() {
    if (level_ + 1 >= kLevels)
        return false;
    const uint8_t from = level_;
    level_ = uint8_t(from + 1);
    release_level(level_);
    cfa_[level_] = cfa_[from];
    for (uint8_t b = 0; b < kBuckets; ++b) {
        for (uint8_t i = buckets_[from][b]; i != kEmpty; i = entries_[i].next) {
            if (!set_register(entries_[i].regnum, entries_[i].rule, entries_[i].value)) {
                release_level(level_);
                level_ = from;
                return false;
            }
        }
    }
    return true;
}

// The popped level's entries go back to the pool, so functions with many epilogues (each a
// remember/restore pair) do not run it dry.
template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::pop_state() {
    if (level_ == 0)
        return false;
    release_level(level_);
    --level_;
    return true;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::iterator::next(uint32_t* regnum, tlcrash_dwarf_cfa_reg_rule_t* rule,
                                                                 machine_ptr* value) {
    const uint8_t level = state_->level_;
    if (started_ && entry_ != kEmpty)
        entry_ = state_->entries_[entry_].next;
    if (!started_) {
        started_ = true;
        entry_ = state_->buckets_[level][0];
    }
    while (entry_ == kEmpty) {
        if (++bucket_ >= kBuckets)
            return false;
        entry_ = state_->buckets_[level][bucket_];
    }
    const auto& e = state_->entries_[entry_];
    *regnum = e.regnum;
    *rule = e.rule;
    *value = e.value;
    return true;
}

template <typename machine_ptr, typename machine_ptr_s>
tlcrash_error_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::eval_program(
    const tlcrash_async_mobject* mobj, machine_ptr pc, machine_ptr initial_location,
    const tlcrash_async_dwarf_cie_info* cie, const gnu_ehptr_reader<machine_ptr>* ptr_reader,
    const Tallytlcrash_async_byteorder* byteorder, uint64_t section_address, uint64_t offset, uint64_t length) {
    // Rules as they stand before the program: what restore instructions go back to.
    dwarf_cfa_state initial;
    {
        iterator it(this);
        uint32_t regnum;
        tlcrash_dwarf_cfa_reg_rule_t rule;
        machine_ptr value;
        while (it.next(&regnum, &rule, &value)) {
            if (!initial.set_register(regnum, rule, value))
                return TLCRASH_ENOMEM;
        }
    }

    const uint8_t set_loc_encoding = cie->augmentation.data_present && cie->augmentation.has_pointer_encoding
                                         ? cie->augmentation.pointer_encoding
                                         : 0;
    uint64_t start;
    if (__builtin_add_overflow(section_address, offset, &start))
        return TLCRASH_EINVAL;
    dwarf_stream stream;
    if (stream.init(mobj, byteorder, start, 0, length) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;

    const machine_ptr caf = machine_ptr(cie->code_alignment_factor);
    const machine_ptr daf = machine_ptr(cie->data_alignment_factor);
    machine_ptr location = initial_location;
    if (pc != 0 && location > pc)
        return TLCRASH_ESUCCESS;

    auto read_reg = [&](uint32_t* regnum) -> tlcrash_error_t {
        uint64_t reg = 0;
        if (stream.read_uleb(&reg) != TLCRASH_ESUCCESS)
            return TLCRASH_EINVAL;
        if (reg > UINT32_MAX)
            return TLCRASH_ENOTSUP;
        *regnum = uint32_t(reg);
        return TLCRASH_ESUCCESS;
    };
    auto restore = [&](uint32_t regnum) {
        tlcrash_dwarf_cfa_reg_rule_t rule;
        machine_ptr value;
        if (initial.get_register_rule(regnum, &rule, &value))
            return set_register(regnum, rule, value);
        remove_register(regnum);
        return true;
    };

    while (!stream.at_end()) {
        uint8_t opcode = 0;
        if (stream.read_u8(&opcode) != TLCRASH_ESUCCESS)
            return TLCRASH_EINVAL;
        uint8_t operand = 0;
        if (opcode & 0xC0) {
            operand = opcode & 0x3F;
            opcode &= 0xC0;
        }

        tlcrash_error_t err = TLCRASH_ESUCCESS;
        uint32_t regnum = 0;
        switch (opcode) {
        case 0x00:  // nop
            break;
        case 0x01: {  // set_loc
            if (cie->segment_size != 0)
                return TLCRASH_ENOTSUP;
            machine_ptr target = 0;
            uint64_t size = 0;
            if (ptr_reader->read(mobj, stream.position(), 0, set_loc_encoding, &target, &size) != TLCRASH_ESUCCESS ||
                !stream.skip(size))
                return TLCRASH_EINVAL;
            location = target;
            break;
        }
        case 0x02: {  // advance_loc1
            uint8_t delta;
            if (stream.read_u8(&delta) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            location = machine_ptr(location + machine_ptr(delta) * caf);
            break;
        }
        case 0x03: {  // advance_loc2
            uint16_t delta;
            if (stream.read_u16(&delta) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            location = machine_ptr(location + machine_ptr(delta) * caf);
            break;
        }
        case 0x04: {  // advance_loc4
            uint32_t delta;
            if (stream.read_u32(&delta) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            location = machine_ptr(location + machine_ptr(delta) * caf);
            break;
        }
        case 0x05:    // offset_extended
        case 0x14: {  // val_offset
            uint64_t n;
            if ((err = read_reg(&regnum)) != TLCRASH_ESUCCESS)
                return err;
            if (stream.read_uleb(&n) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            if (!set_register(regnum,
                              opcode == 0x05 ? TLCRASH_DWARF_CFA_REG_RULE_OFFSET : TLCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET,
                              machine_ptr(machine_ptr(n) * daf)))
                return TLCRASH_ENOMEM;
            break;
        }
        case 0x11:    // offset_extended_sf
        case 0x15: {  // val_offset_sf
            int64_t n;
            if ((err = read_reg(&regnum)) != TLCRASH_ESUCCESS)
                return err;
            if (stream.read_sleb(&n) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            if (!set_register(regnum,
                              opcode == 0x11 ? TLCRASH_DWARF_CFA_REG_RULE_OFFSET : TLCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET,
                              machine_ptr(machine_ptr(n) * daf)))
                return TLCRASH_ENOMEM;
            break;
        }
        case 0x06:  // restore_extended
            if ((err = read_reg(&regnum)) != TLCRASH_ESUCCESS)
                return err;
            if (!restore(regnum))
                return TLCRASH_ENOMEM;
            break;
        case 0x07:  // undefined
            if ((err = read_reg(&regnum)) != TLCRASH_ESUCCESS)
                return err;
            remove_register(regnum);
            break;
        case 0x08:  // same_value
            if ((err = read_reg(&regnum)) != TLCRASH_ESUCCESS)
                return err;
            if (!set_register(regnum, TLCRASH_DWARF_CFA_REG_RULE_SAME_VALUE, 0))
                return TLCRASH_ENOMEM;
            break;
        case 0x09: {  // register
            uint32_t source;
            if ((err = read_reg(&regnum)) != TLCRASH_ESUCCESS || (err = read_reg(&source)) != TLCRASH_ESUCCESS)
                return err;
            if (!set_register(regnum, TLCRASH_DWARF_CFA_REG_RULE_REGISTER, source))
                return TLCRASH_ENOMEM;
            break;
        }
        case 0x0A:  // remember_state
            if (!push_state())
                return TLCRASH_ENOMEM;
            break;
        case 0x0B:  // restore_state
            if (!pop_state())
                return TLCRASH_EINVAL;
            break;
        case 0x0C: {  // def_cfa
            uint64_t n;
            if ((err = read_reg(&regnum)) != TLCRASH_ESUCCESS)
                return err;
            if (stream.read_uleb(&n) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            set_cfa_register(regnum, machine_ptr(n));
            break;
        }
        case 0x0D: {  // def_cfa_register
            if ((err = read_reg(&regnum)) != TLCRASH_ESUCCESS)
                return err;
            dwarf_cfa_rule<machine_ptr, machine_ptr_s>& rule = cfa_[level_];
            if (rule.kind != DWARF_CFA_STATE_CFA_TYPE_REGISTER && rule.kind != DWARF_CFA_STATE_CFA_TYPE_REGISTER_SIGNED)
                return TLCRASH_EINVAL;
            rule.reg = regnum;
            break;
        }
        case 0x0E: {  // def_cfa_offset
            uint64_t n;
            if (stream.read_uleb(&n) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            const dwarf_cfa_rule<machine_ptr, machine_ptr_s> rule = cfa_[level_];
            if (rule.kind != DWARF_CFA_STATE_CFA_TYPE_REGISTER && rule.kind != DWARF_CFA_STATE_CFA_TYPE_REGISTER_SIGNED)
                return TLCRASH_EINVAL;
            set_cfa_register(rule.reg, machine_ptr(n));
            break;
        }
        case 0x0F: {  // def_cfa_expression
            uint64_t n;
            if (stream.read_uleb(&n) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            set_cfa_expression(stream.position(), n);
            if (!stream.skip(n))
                stream.seek(stream.end());
            break;
        }
        case 0x10:    // expression
        case 0x16: {  // val_expression
            if ((err = read_reg(&regnum)) != TLCRASH_ESUCCESS)
                return err;
            const uint64_t block = stream.position();
            uint64_t n;
            if (stream.read_uleb(&n) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            if (!set_register(regnum,
                              opcode == 0x10 ? TLCRASH_DWARF_CFA_REG_RULE_EXPRESSION
                                             : TLCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION,
                              machine_ptr(block)))
                return TLCRASH_ENOMEM;
            if (!stream.skip(n))
                stream.seek(stream.end());
            break;
        }
        case 0x12: {  // def_cfa_sf
            int64_t n;
            if ((err = read_reg(&regnum)) != TLCRASH_ESUCCESS)
                return err;
            if (stream.read_sleb(&n) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            set_cfa_register_signed(regnum, machine_ptr_s(machine_ptr(n) * daf));
            break;
        }
        case 0x13: {  // def_cfa_offset_sf
            int64_t n;
            if (stream.read_sleb(&n) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            const dwarf_cfa_rule<machine_ptr, machine_ptr_s> rule = cfa_[level_];
            if (rule.kind != DWARF_CFA_STATE_CFA_TYPE_REGISTER && rule.kind != DWARF_CFA_STATE_CFA_TYPE_REGISTER_SIGNED)
                return TLCRASH_EINVAL;
            set_cfa_register_signed(rule.reg, machine_ptr_s(machine_ptr(n) * daf));
            break;
        }
        case 0x40:  // advance_loc
            location = machine_ptr(location + machine_ptr(operand) * caf);
            break;
        case 0x80: {  // offset
            uint64_t n;
            if (stream.read_uleb(&n) != TLCRASH_ESUCCESS)
                return TLCRASH_EINVAL;
            if (!set_register(operand, TLCRASH_DWARF_CFA_REG_RULE_OFFSET, machine_ptr(machine_ptr(n) * daf)))
                return TLCRASH_ENOMEM;
            break;
        }
        case 0xC0:  // restore
            if (!restore(operand))
                return TLCRASH_ENOMEM;
            break;
        default:
            return TLCRASH_ENOTSUP;
        }

        if (pc != 0 && location > pc)
            return TLCRASH_ESUCCESS;
    }
    return TLCRASH_ESUCCESS;
}

template <typename machine_ptr, typename machine_ptr_s>
tlcrash_error_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::apply_state(tlcrash_task_t task,
                                                                         const tlcrash_async_dwarf_cie_info* cie,
                                                                         const tlcrash_async_thread_state* current,
                                                                         const Tallytlcrash_async_byteorder* byteorder,
                                                                         tlcrash_async_thread_state* next) {
    constexpr uint32_t kPc = 0;
    constexpr uint32_t kSp = 2;
    tlcrash_async_thread_state_copy(next, current);
    tlcrash_async_thread_state_clear_volatile_regs(next);

    // Evaluates a mapped expression block against the current frame.
    auto evaluate = [&](uint64_t address, uint64_t length, const machine_ptr* initial, size_t count,
                        machine_ptr* result) -> tlcrash_error_t {
        tlcrash_async_mobject expression;
        tlcrash_error_t err = tlcrash_async_mobject_init(&expression, task, address, length, true);
        if (err != TLCRASH_ESUCCESS)
            return err;
        err = tlcrash_async_dwarf_expression_eval<machine_ptr, machine_ptr_s>(&expression, task, current, byteorder,
                                                                             address, 0, length, initial, count, result);
        tlcrash_async_mobject_free(&expression);
        return err;
    };

    machine_ptr cfa = 0;
    const dwarf_cfa_rule<machine_ptr, machine_ptr_s> rule = cfa_[level_];
    switch (rule.kind) {
    case DWARF_CFA_STATE_CFA_TYPE_REGISTER:
    case DWARF_CFA_STATE_CFA_TYPE_REGISTER_SIGNED: {
        uint32_t regnum;
        if (!tlcrash_async_thread_state_map_dwarf_reg(current, rule.reg, &regnum))
            return TLCRASH_ENOTSUP;
        if (!tlcrash_async_thread_state_has_reg(current, regnum))
            return TLCRASH_ENOTFOUND;
        cfa = machine_ptr(machine_ptr(tlcrash_async_thread_state_get_reg(current, regnum)) + rule.offset);
        break;
    }
    case DWARF_CFA_STATE_CFA_TYPE_EXPRESSION: {
        tlcrash_error_t err = evaluate(rule.expression_address, rule.expression_length, nullptr, 0, &cfa);
        if (err != TLCRASH_ESUCCESS)
            return err;
        break;
    }
    default:
        return TLCRASH_EINVAL;
    }
    tlcrash_async_thread_state_set_reg(next, kSp, cfa);

    iterator it(this);
    uint32_t dwarf_reg;
    tlcrash_dwarf_cfa_reg_rule_t reg_rule;
    machine_ptr value;
    while (it.next(&dwarf_reg, &reg_rule, &value)) {
        uint32_t target;
        if (!tlcrash_async_thread_state_map_dwarf_reg(current, dwarf_reg, &target)) {
            if (dwarf_reg != cie->return_address_register)
                return TLCRASH_EINVAL;
            target = kPc;
        }
        machine_ptr result = 0;
        switch (reg_rule) {
        case TLCRASH_DWARF_CFA_REG_RULE_OFFSET: {
            tlcrash_error_t err;
            if (sizeof(machine_ptr) == 4) {
                uint32_t word = 0;
                err = tlcrash_async_task_read_uint32(task, byteorder, machine_ptr(cfa + value), 0, &word);
                result = machine_ptr(word);
            } else {
                uint64_t word = 0;
                err = tlcrash_async_task_read_uint64(task, byteorder, machine_ptr(cfa + value), 0, &word);
                result = machine_ptr(word);
            }
            if (err != TLCRASH_ESUCCESS)
                return err;
            break;
        }
        case TLCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET:
            result = machine_ptr(cfa + value);
            break;
        case TLCRASH_DWARF_CFA_REG_RULE_REGISTER: {
            uint32_t source;
            if (!tlcrash_async_thread_state_map_dwarf_reg(current, value, &source))
                return TLCRASH_EINVAL;
            if (!tlcrash_async_thread_state_has_reg(current, source))
                return TLCRASH_ENOTFOUND;
            result = machine_ptr(tlcrash_async_thread_state_get_reg(current, source));
            break;
        }
        case TLCRASH_DWARF_CFA_REG_RULE_EXPRESSION:
        case TLCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION: {
            uint64_t length = 0, size = 0;
            tlcrash_error_t err = tlcrash_async_dwarf_read_uleb128_task(task, value, 0, &length, &size);
            if (err != TLCRASH_ESUCCESS)
                return err;
            uint64_t block;
            if (__builtin_add_overflow(uint64_t(value), size, &block))
                return TLCRASH_EINVAL;
            machine_ptr address = 0;
            if ((err = evaluate(block, length, &cfa, 1, &address)) != TLCRASH_ESUCCESS)
                return err;
            if (reg_rule == TLCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION) {
                result = address;
            } else if (sizeof(machine_ptr) == 4) {
                uint32_t word = 0;
                if ((err = tlcrash_async_task_read_uint32(task, byteorder, address, 0, &word)) != TLCRASH_ESUCCESS)
                    return err;
                result = machine_ptr(word);
            } else {
                uint64_t word = 0;
                if ((err = tlcrash_async_task_read_uint64(task, byteorder, address, 0, &word)) != TLCRASH_ESUCCESS)
                    return err;
                result = machine_ptr(word);
            }
            break;
        }
        case TLCRASH_DWARF_CFA_REG_RULE_SAME_VALUE:
            if (!tlcrash_async_thread_state_has_reg(current, target))
                return TLCRASH_ENOTFOUND;
            result = machine_ptr(tlcrash_async_thread_state_get_reg(current, target));
            break;
        default:
            continue;
        }
        tlcrash_async_thread_state_set_reg(next, target, result);
        if (dwarf_reg == cie->return_address_register && target != kPc)
            tlcrash_async_thread_state_set_reg(next, kPc, result);
    }

    if (tlcrash_async_thread_state_has_reg(next, kPc))
        return TLCRASH_ESUCCESS;
    uint32_t ra;
    // Where the return address column is the pc itself (x86-64), a row without it is the
    // outermost frame: taking the current pc would repeat this frame for ever.
    if (tlcrash_async_thread_state_map_dwarf_reg(current, cie->return_address_register, &ra) && ra != kPc &&
        tlcrash_async_thread_state_has_reg(current, ra)) {
        tlcrash_async_thread_state_set_reg(next, kPc, tlcrash_async_thread_state_get_reg(current, ra));
        return TLCRASH_ESUCCESS;
    }
    return TLCRASH_EINVAL;
}

template class dwarf_cfa_state<uint32_t, int32_t>;
template class dwarf_cfa_state<uint64_t, int64_t>;
template tlcrash_error_t tlcrash_async_dwarf_cie_info_init<uint32_t>(tlcrash_async_dwarf_cie_info*,
                                                                     const tlcrash_async_mobject*,
                                                                     const Tallytlcrash_async_byteorder*,
                                                                     const gnu_ehptr_reader<uint32_t>*, uint64_t);
template tlcrash_error_t tlcrash_async_dwarf_cie_info_init<uint64_t>(tlcrash_async_dwarf_cie_info*,
                                                                     const tlcrash_async_mobject*,
                                                                     const Tallytlcrash_async_byteorder*,
                                                                     const gnu_ehptr_reader<uint64_t>*, uint64_t);
template tlcrash_error_t tlcrash_async_dwarf_fde_info_init<uint32_t>(tlcrash_async_dwarf_fde_info*,
                                                                     const tlcrash_async_mobject*,
                                                                     const Tallytlcrash_async_byteorder*, uint64_t,
                                                                     bool);
template tlcrash_error_t tlcrash_async_dwarf_fde_info_init<uint64_t>(tlcrash_async_dwarf_fde_info*,
                                                                     const tlcrash_async_mobject*,
                                                                     const Tallytlcrash_async_byteorder*, uint64_t,
                                                                     bool);

namespace {

template <typename machine_ptr, typename machine_ptr_s>
tlcrash_unwind_error_t unwind_with(tlcrash_task_t task, const tlcrash_async_mobject* section,
                                   const Tallytlcrash_async_byteorder* byteorder, bool m64, bool debug_frame,
                                   uint64_t pc, const tlcrash_async_thread_state* current,
                                   tlcrash_async_thread_state* next, uint64_t scan_from = 0) {
    tlcrash_async_dwarf_cfi_reader reader;
    if (tlcrash_async_dwarf_cfi_reader_init(&reader, section, byteorder, m64, debug_frame) != TLCRASH_ESUCCESS)
        return TLCRASH_UNWIND_INVALID;
    tlcrash_async_dwarf_fde_info fde;
    if (tlcrash_async_dwarf_cfi_reader_find_fde(&reader, scan_from, machine_ptr(pc), &fde) != TLCRASH_ESUCCESS)
        return TLCRASH_UNWIND_NOT_SUPPORTED;
    const uint64_t section_address = tlcrash_async_mobject_base_address(section);
    gnu_ehptr_reader<machine_ptr> ptr_reader(byteorder);
    tlcrash_async_dwarf_cie_info cie;
    if (tlcrash_async_dwarf_cie_info_init<machine_ptr>(&cie, section, byteorder, &ptr_reader,
                                                       section_address + fde.cie_offset) != TLCRASH_ESUCCESS)
        return TLCRASH_UNWIND_NOT_SUPPORTED;
    dwarf_cfa_state<machine_ptr, machine_ptr_s> state;
    if (state.eval_program(section, machine_ptr(pc), machine_ptr(fde.pc_start), &cie, &ptr_reader, byteorder,
                           section_address, cie.initial_instructions_offset,
                           cie.initial_instructions_length) != TLCRASH_ESUCCESS ||
        state.eval_program(section, machine_ptr(pc), machine_ptr(fde.pc_start), &cie, &ptr_reader, byteorder,
                           section_address, fde.instructions_offset, fde.instructions_length) != TLCRASH_ESUCCESS)
        return TLCRASH_UNWIND_NOT_SUPPORTED;
    if (state.apply_state(task, &cie, current, byteorder, next) != TLCRASH_ESUCCESS)
        return TLCRASH_UNWIND_NO_FRAME;
    return TLCRASH_UNWIND_ESUCCESS;
}

// An ELF object's .eh_frame: the index gives the FDE, and only the span from its CIE to the
// end of both entries is copied, not the whole section.
tlcrash_unwind_error_t unwind_elf(tlcrash_task_t task, const tlcrash_async_elf_image* image, uint64_t pc,
                                  const tlcrash_async_thread_state* current, tlcrash_async_thread_state* next) {
    uint64_t fde;
    if (tlcrash_async_elf_find_fde(image, pc, &fde) != TLCRASH_ESUCCESS)
        return TLCRASH_UNWIND_NOT_SUPPORTED;
    const auto* order = tlcrash_async_byteorder_native();
    // Start and end of an entry, and for an FDE the address of its CIE.
    auto entry = [&](uint64_t at, uint64_t* end, uint64_t* cie) {
        uint32_t length32;
        if (tlcrash_async_task_read_uint32(task, order, at, 0, &length32) != TLCRASH_ESUCCESS || length32 == 0)
            return false;
        uint64_t length = length32;
        uint64_t header = 4;
        if (length32 == 0xFFFFFFFFu) {
            if (tlcrash_async_task_read_uint64(task, order, at, 4, &length) != TLCRASH_ESUCCESS)
                return false;
            header = 12;
        }
        if (__builtin_add_overflow(at, header, end) || __builtin_add_overflow(*end, length, end))
            return false;
        if (cie == nullptr)
            return true;
        uint64_t pointer;
        if (header == 4) {
            uint32_t p32;
            if (tlcrash_async_task_read_uint32(task, order, at, 4, &p32) != TLCRASH_ESUCCESS)
                return false;
            pointer = p32;
        } else if (tlcrash_async_task_read_uint64(task, order, at, 12, &pointer) != TLCRASH_ESUCCESS) {
            return false;
        }
        const uint64_t field = at + header;
        if (pointer == 0 || pointer > field)
            return false;
        *cie = field - pointer;
        return true;
    };
    uint64_t fdeEnd;
    uint64_t cie;
    uint64_t cieEnd;
    if (!entry(fde, &fdeEnd, &cie) || !entry(cie, &cieEnd, nullptr))
        return TLCRASH_UNWIND_NOT_SUPPORTED;
    const uint64_t end = fdeEnd > cieEnd ? fdeEnd : cieEnd;
    if (cie < image->eh_frame_start || end > image->eh_frame_end)
        return TLCRASH_UNWIND_NOT_SUPPORTED;
    tlcrash_async_mobject window;
    if (tlcrash_async_mobject_init(&window, task, cie, end - cie, true) != TLCRASH_ESUCCESS)
        return TLCRASH_UNWIND_NOT_SUPPORTED;
    const tlcrash_unwind_error_t result =
        unwind_with<uint64_t, int64_t>(task, &window, order, true, false, pc, current, next, fde - cie);
    tlcrash_async_mobject_free(&window);
    return result;
}

}  // namespace

}  // namespace tlcrash::Tally::async

using namespace tlcrash::Tally::async;

tlcrash_error_t tlcrash_async_dwarf_cfi_reader_init(tlcrash_async_dwarf_cfi_reader* reader,
                                                    const tlcrash_async_mobject* mobj,
                                                    const Tallytlcrash_async_byteorder* byteorder, bool m64,
                                                    bool debug_frame) {
    reader->mobj = mobj;
    reader->byteorder = byteorder;
    reader->m64 = m64;
    reader->debug_frame = debug_frame;
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t tlcrash_async_dwarf_cfi_reader_find_fde(const tlcrash_async_dwarf_cfi_reader* reader, uint64_t offset,
                                                        uint64_t pc, tlcrash_async_dwarf_fde_info* fde) {
    const tlcrash_async_mobject* mobj = reader->mobj;
    const uint64_t start = tlcrash_async_mobject_base_address(mobj);
    const uint64_t end = start + tlcrash_async_mobject_length(mobj);
    uint64_t entry;
    if (__builtin_add_overflow(start, offset, &entry) || entry >= end)
        return TLCRASH_EINVAL;

    while (entry < end) {
        entry_head head;
        if (read_entry_head(mobj, reader->byteorder, entry, &head) != TLCRASH_ESUCCESS)
            return TLCRASH_EINVAL;
        if (head.length == 0)
            return TLCRASH_ENOTFOUND;
        uint64_t next;
        if (__builtin_add_overflow(entry, head.header_size, &next) || __builtin_add_overflow(next, head.length, &next))
            return TLCRASH_EINVAL;
        uint64_t id = 0;
        if (read_id_field(mobj, reader->byteorder, entry + head.header_size, head.m64, &id) != TLCRASH_ESUCCESS)
            return TLCRASH_EINVAL;
        if (!is_cie_id(id, head.m64, reader->debug_frame)) {
            tlcrash_error_t err =
                reader->m64 ? tlcrash_async_dwarf_fde_info_init<uint64_t>(fde, mobj, reader->byteorder, entry,
                                                                          reader->debug_frame)
                            : tlcrash_async_dwarf_fde_info_init<uint32_t>(fde, mobj, reader->byteorder, entry,
                                                                          reader->debug_frame);
            if (err != TLCRASH_ESUCCESS)
                return err;
            if (fde->pc_start <= pc && pc < fde->pc_end)
                return TLCRASH_ESUCCESS;
        }
        entry = next;
    }
    return TLCRASH_ENOTFOUND;
}

tlcrash_unwind_error_t tlcrash_async_read_dwarf_frame(tlcrash_task_t task, tlcrash_async_image_list* images,
                                                      const tlcrash_async_thread_state* current,
                                                      const tlcrash_async_thread_state* previous,
                                                      tlcrash_async_thread_state* next) {
    constexpr uint32_t kPc = 0;
    if (!tlcrash_async_thread_state_has_reg(current, kPc))
        return TLCRASH_UNWIND_BAD_FRAME;
    const uint64_t pc = tlcrash_async_thread_state_get_reg(current, kPc);
    const uint64_t lookup = tlcrash_async_unwind_lookup_pc(pc, previous != nullptr);
    // Without an image list (or before images are known) there is nothing to look up.
    if (images == nullptr || images->list == nullptr)
        return TLCRASH_UNWIND_NOT_SUPPORTED;

    tlcrash_async_image_list_set_reading(images, true);
    tlcrash_unwind_error_t result = TLCRASH_UNWIND_NOT_SUPPORTED;
    tlcrash_async_macho_image* image = tlcrash_async_image_containing_address(images, lookup);
    if (image != nullptr) {
        tlcrash_async_mobject section;
        bool debug_frame = false;
        tlcrash_error_t err = tlcrash_async_macho_image_map_section(image, "__TEXT", "__eh_frame", &section);
        if (err != TLCRASH_ESUCCESS) {
            debug_frame = true;
            err = tlcrash_async_macho_image_map_section(image, "__DWARF", "__debug_frame", &section);
        }
        if (err != TLCRASH_ESUCCESS) {
            result = TLCRASH_UNWIND_NO_FRAME;
        } else {
            result = image->m64 ? unwind_with<uint64_t, int64_t>(task, &section, image->byteorder, true, debug_frame,
                                                                 lookup, current, next)
                                : unwind_with<uint32_t, int32_t>(task, &section, image->byteorder, false, debug_frame,
                                                                 uint32_t(lookup), current, next);
            tlcrash_async_mobject_free(&section);
        }
    } else if (const tlcrash_async_elf_image* elf = tlcrash_async_elf_image_containing_address(images, lookup)) {
        result = unwind_elf(task, elf, lookup, current, next);
    }
    tlcrash_async_image_list_set_reading(images, false);
    return result;
}
