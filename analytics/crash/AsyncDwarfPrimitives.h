#pragma once
// Reading DWARF data out of a memory object: LEB128, sized integers, a bounded stream and the
// DW_EH_PE pointer decoder. Crash-path code: no heap, no exceptions.
#include "analytics/crash/AsyncMObject.h"

// LEB128 in a memory object: 0, 5 when unreadable, 4 when longer than ten bytes.
tlcrash_error_t tlcrash_async_dwarf_read_uleb128(const tlcrash_async_mobject* mobj, uint64_t address, int64_t offset,
                                                 uint64_t* result, uint64_t* size);
tlcrash_error_t tlcrash_async_dwarf_read_sleb128(const tlcrash_async_mobject* mobj, uint64_t address, int64_t offset,
                                                 int64_t* result, uint64_t* size);
// A ULEB128 in task memory: maps the page it starts on (and what follows of it) to read it.
tlcrash_error_t tlcrash_async_dwarf_read_uleb128_task(tlcrash_task_t task, uint64_t address, int64_t offset,
                                                      uint64_t* result, uint64_t* size);
// An unsigned integer of 1, 2, 4 or 8 bytes; 5 for another size or unreadable data.
tlcrash_error_t tlcrash_async_dwarf_read_sized_uint(const tlcrash_async_mobject* mobj,
                                                    const Tallytlcrash_async_byteorder* byteorder, uint64_t address,
                                                    int64_t offset, uint64_t size, uint64_t* result);

namespace tlcrash::Tally::async {

// A byte range of a memory object read front to back; no read leaves the range.
class dwarf_stream {
public:
    dwarf_stream() = default;
    // 5 when the range wraps around or does not lie inside the object.
    tlcrash_error_t init(const tlcrash_async_mobject* mobj, const Tallytlcrash_async_byteorder* byteorder,
                         uint64_t address, int64_t offset, uint64_t length);

    uint64_t start() const { return start_; }
    uint64_t end() const { return end_; }
    uint64_t position() const { return position_; }
    bool at_end() const { return position_ >= end_; }
    const tlcrash_async_mobject* mobj() const { return mobj_; }
    const Tallytlcrash_async_byteorder* byteorder() const { return byteorder_; }

    // Moves to an absolute address inside [start, end]; false otherwise.
    bool seek(uint64_t address);
    // Skips n bytes when they lie inside the stream; false otherwise (position unchanged).
    bool skip(uint64_t n);

    tlcrash_error_t read_u8(uint8_t* value);
    tlcrash_error_t read_u16(uint16_t* value);
    tlcrash_error_t read_u32(uint32_t* value);
    tlcrash_error_t read_u64(uint64_t* value);
    tlcrash_error_t read_uleb(uint64_t* value);
    tlcrash_error_t read_sleb(int64_t* value);

private:
    bool fits(uint64_t n) const { return position_ <= end_ && end_ - position_ >= n; }

    const tlcrash_async_mobject* mobj_ = nullptr;
    const Tallytlcrash_async_byteorder* byteorder_ = nullptr;
    uint64_t start_ = 0;
    uint64_t end_ = 0;
    uint64_t position_ = 0;
};

// Decodes DW_EH_PE pointers. No base is ever set here, so only absolute and pc-relative
// applications succeed; the others give 4.
template <typename machine_ptr>
class gnu_ehptr_reader {
public:
    explicit gnu_ehptr_reader(const Tallytlcrash_async_byteorder* byteorder) : byteorder_(byteorder) {}

    tlcrash_error_t read(const tlcrash_async_mobject* mobj, uint64_t location, int64_t offset, uint8_t encoding,
                         machine_ptr* result, uint64_t* size) const;

private:
    struct base {
        bool valid = false;
        machine_ptr value = 0;
    };
    const Tallytlcrash_async_byteorder* byteorder_;
    base frame_section_;
    base text_;
    base data_;
    base function_;
};

extern template class gnu_ehptr_reader<uint32_t>;
extern template class gnu_ehptr_reader<uint64_t>;

}  // namespace tlcrash::Tally::async
