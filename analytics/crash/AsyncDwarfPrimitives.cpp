#include "analytics/crash/AsyncDwarfPrimitives.h"

namespace {

// Reads LEB128 bytes through next(byte) until one without the continuation bit.
template <typename Next>
tlcrash_error_t readLeb(Next next, uint64_t* value, uint64_t* size, bool* negative) {
    uint64_t result = 0;
    unsigned shift = 0;
    for (uint64_t count = 0; count < 10; ++count) {
        uint8_t byte = 0;
        if (!next(count, &byte))
            return TLCRASH_EINVAL;
        if (shift < 64)
            result |= uint64_t(byte & 0x7F) << shift;
        shift += 7;
        if (!(byte & 0x80)) {
            if (negative != nullptr && shift < 64 && (byte & 0x40))
                result |= ~uint64_t(0) << shift;
            *value = result;
            *size = count + 1;
            return TLCRASH_ESUCCESS;
        }
    }
    return TLCRASH_ENOTSUP;
}

}  // namespace

tlcrash_error_t tlcrash_async_dwarf_read_uleb128(const tlcrash_async_mobject* mobj, uint64_t address, int64_t offset,
                                                 uint64_t* result, uint64_t* size) {
    return readLeb(
        [&](uint64_t i, uint8_t* byte) {
            int64_t at;
            if (__builtin_add_overflow(offset, int64_t(i), &at))
                return false;
            return tlcrash_async_mobject_read_uint8(mobj, address, at, byte) == TLCRASH_ESUCCESS;
        },
        result, size, nullptr);
}

tlcrash_error_t tlcrash_async_dwarf_read_sleb128(const tlcrash_async_mobject* mobj, uint64_t address, int64_t offset,
                                                 int64_t* result, uint64_t* size) {
    bool negative = true;
    uint64_t value = 0;
    tlcrash_error_t err = readLeb(
        [&](uint64_t i, uint8_t* byte) {
            int64_t at;
            if (__builtin_add_overflow(offset, int64_t(i), &at))
                return false;
            return tlcrash_async_mobject_read_uint8(mobj, address, at, byte) == TLCRASH_ESUCCESS;
        },
        &value, size, &negative);
    if (err == TLCRASH_ESUCCESS)
        *result = int64_t(value);
    return err;
}

tlcrash_error_t tlcrash_async_dwarf_read_uleb128_task(tlcrash_task_t task, uint64_t address, int64_t offset,
                                                      uint64_t* result, uint64_t* size) {
    uint64_t start;
    if (!tlcrash_async_address_apply_offset(address, offset, &start))
        return TLCRASH_EINVAL;
    tlcrash_async_mobject mobj;
    tlcrash_error_t err = tlcrash_async_mobject_init(&mobj, task, start, tlcrash_async_page_size(), false);
    if (err != TLCRASH_ESUCCESS)
        return err;
    err = tlcrash_async_dwarf_read_uleb128(&mobj, start, 0, result, size);
    tlcrash_async_mobject_free(&mobj);
    return err;
}

tlcrash_error_t tlcrash_async_dwarf_read_sized_uint(const tlcrash_async_mobject* mobj,
                                                    const Tallytlcrash_async_byteorder* byteorder, uint64_t address,
                                                    int64_t offset, uint64_t size, uint64_t* result) {
    tlcrash_error_t err;
    switch (size) {
    case 1: {
        uint8_t v = 0;
        err = tlcrash_async_mobject_read_uint8(mobj, address, offset, &v);
        *result = v;
        break;
    }
    case 2: {
        uint16_t v = 0;
        err = tlcrash_async_mobject_read_uint16(mobj, byteorder, address, offset, &v);
        *result = v;
        break;
    }
    case 4: {
        uint32_t v = 0;
        err = tlcrash_async_mobject_read_uint32(mobj, byteorder, address, offset, &v);
        *result = v;
        break;
    }
    case 8:
        err = tlcrash_async_mobject_read_uint64(mobj, byteorder, address, offset, result);
        break;
    default:
        return TLCRASH_EINVAL;
    }
    return err == TLCRASH_ESUCCESS ? TLCRASH_ESUCCESS : TLCRASH_EINVAL;
}

namespace tlcrash::Tally::async {

tlcrash_error_t dwarf_stream::init(const tlcrash_async_mobject* mobj, const Tallytlcrash_async_byteorder* byteorder,
                                   uint64_t address, int64_t offset, uint64_t length) {
    uint64_t start, end;
    if (!tlcrash_async_address_apply_offset(address, offset, &start) || __builtin_add_overflow(start, length, &end))
        return TLCRASH_EINVAL;
    if (length > 0 && tlcrash_async_mobject_remap(mobj, start, 0, length) == nullptr)
        return TLCRASH_EINVAL;
    mobj_ = mobj;
    byteorder_ = byteorder;
    start_ = start;
    end_ = end;
    position_ = start;
    return TLCRASH_ESUCCESS;
}

bool dwarf_stream::seek(uint64_t address) {
    if (address < start_ || address > end_)
        return false;
    position_ = address;
    return true;
}

bool dwarf_stream::skip(uint64_t n) {
    if (!fits(n))
        return false;
    position_ += n;
    return true;
}

tlcrash_error_t dwarf_stream::read_u8(uint8_t* value) {
    if (!fits(1) || tlcrash_async_mobject_read_uint8(mobj_, position_, 0, value) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;
    position_ += 1;
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t dwarf_stream::read_u16(uint16_t* value) {
    if (!fits(2) || tlcrash_async_mobject_read_uint16(mobj_, byteorder_, position_, 0, value) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;
    position_ += 2;
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t dwarf_stream::read_u32(uint32_t* value) {
    if (!fits(4) || tlcrash_async_mobject_read_uint32(mobj_, byteorder_, position_, 0, value) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;
    position_ += 4;
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t dwarf_stream::read_u64(uint64_t* value) {
    if (!fits(8) || tlcrash_async_mobject_read_uint64(mobj_, byteorder_, position_, 0, value) != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;
    position_ += 8;
    return TLCRASH_ESUCCESS;
}

// A LEB128 that runs past the stream's end is an error even when the object goes on.
tlcrash_error_t dwarf_stream::read_uleb(uint64_t* value) {
    uint64_t size = 0;
    tlcrash_error_t err = tlcrash_async_dwarf_read_uleb128(mobj_, position_, 0, value, &size);
    if (err != TLCRASH_ESUCCESS)
        return err;
    if (!fits(size))
        return TLCRASH_EINVAL;
    position_ += size;
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t dwarf_stream::read_sleb(int64_t* value) {
    uint64_t size = 0;
    tlcrash_error_t err = tlcrash_async_dwarf_read_sleb128(mobj_, position_, 0, value, &size);
    if (err != TLCRASH_ESUCCESS)
        return err;
    if (!fits(size))
        return TLCRASH_EINVAL;
    position_ += size;
    return TLCRASH_ESUCCESS;
}

template <typename machine_ptr>
tlcrash_error_t gnu_ehptr_reader<machine_ptr>::read(const tlcrash_async_mobject* mobj, uint64_t location,
                                                    int64_t offset, uint8_t encoding, machine_ptr* result,
                                                    uint64_t* size) const {
    if (encoding == 0xFF)
        return TLCRASH_ENOTFOUND;
    uint64_t at;
    if (!tlcrash_async_address_apply_offset(location, offset, &at))
        return TLCRASH_EINVAL;

    machine_ptr base_value = 0;
    uint64_t padding = 0;
    switch (encoding & 0x70) {
    case 0x00:
        break;
    case 0x10:
        base_value = machine_ptr(at);
        break;
    case 0x20:
    case 0x30:
    case 0x40: {
        const base& b = (encoding & 0x70) == 0x20 ? text_ : (encoding & 0x70) == 0x30 ? data_ : function_;
        if (!b.valid)
            return TLCRASH_ENOTSUP;
        base_value = b.value;
        break;
    }
    case 0x50: {
        if (!frame_section_.valid)
            return TLCRASH_ENOTSUP;
        const uint64_t word = sizeof(machine_ptr);
        const uint64_t relative = at - uint64_t(frame_section_.value);
        padding = (word - relative % word) % word;
        if (__builtin_add_overflow(at, padding, &at))
            return TLCRASH_EINVAL;
        break;
    }
    default:
        return TLCRASH_ENOTSUP;
    }

    uint64_t value = 0;
    uint64_t consumed = 0;
    tlcrash_error_t err = TLCRASH_ESUCCESS;
    switch (encoding & 0x0F) {
    case 0x00:
        consumed = sizeof(machine_ptr);
        err = tlcrash_async_dwarf_read_sized_uint(mobj, byteorder_, at, 0, consumed, &value);
        break;
    case 0x01:
        err = tlcrash_async_dwarf_read_uleb128(mobj, at, 0, &value, &consumed);
        if (err != TLCRASH_ESUCCESS)
            err = TLCRASH_EINVAL;
        break;
    case 0x02:
    case 0x0A:
        consumed = 2;
        err = tlcrash_async_dwarf_read_sized_uint(mobj, byteorder_, at, 0, 2, &value);
        if ((encoding & 0x0F) == 0x0A)
            value = uint64_t(int64_t(int16_t(value)));
        break;
    case 0x03:
    case 0x0B:
        consumed = 4;
        err = tlcrash_async_dwarf_read_sized_uint(mobj, byteorder_, at, 0, 4, &value);
        if ((encoding & 0x0F) == 0x0B)
            value = uint64_t(int64_t(int32_t(value)));
        break;
    case 0x04:
    case 0x0C:
        consumed = 8;
        err = tlcrash_async_dwarf_read_sized_uint(mobj, byteorder_, at, 0, 8, &value);
        break;
    case 0x09: {
        int64_t signed_value = 0;
        err = tlcrash_async_dwarf_read_sleb128(mobj, at, 0, &signed_value, &consumed);
        if (err != TLCRASH_ESUCCESS)
            err = TLCRASH_EINVAL;
        value = uint64_t(signed_value);
        break;
    }
    default:
        return TLCRASH_ENOTSUP;
    }
    if (err != TLCRASH_ESUCCESS)
        return TLCRASH_EINVAL;

    machine_ptr pointer = machine_ptr(machine_ptr(value) + base_value);
    if (encoding & 0x80) {
        tlcrash_task_t task = tlcrash_async_mobject_task(mobj);
        if (sizeof(machine_ptr) == 4) {
            uint32_t target = 0;
            err = tlcrash_async_task_read_uint32(task, byteorder_, pointer, 0, &target);
            pointer = machine_ptr(target);
        } else {
            uint64_t target = 0;
            err = tlcrash_async_task_read_uint64(task, byteorder_, pointer, 0, &target);
            pointer = machine_ptr(target);
        }
        if (err != TLCRASH_ESUCCESS)
            return err;
    }
    *result = pointer;
    *size = padding + consumed;
    return TLCRASH_ESUCCESS;
}

template class gnu_ehptr_reader<uint32_t>;
template class gnu_ehptr_reader<uint64_t>;

}  // namespace tlcrash::Tally::async
