#include "analytics/crash/AsyncDwarfExpression.h"

namespace tlcrash::Tally::async {

namespace {

constexpr size_t kStackDepth = 100;
// Branches can loop; an expression that runs this long is not one a compiler wrote.
constexpr uint32_t kMaxOperations = 100000;

template <typename machine_ptr>
class expression_stack {
public:
    size_t depth() const { return count_; }
    bool full() const { return count_ == kStackDepth; }
    bool push(machine_ptr value) {
        if (full())
            return false;
        values_[count_++] = value;
        return true;
    }
    bool pop(machine_ptr* value) {
        if (count_ == 0)
            return false;
        *value = values_[--count_];
        return true;
    }
    // i = 0 is the top.
    machine_ptr& at(size_t i) { return values_[count_ - 1 - i]; }

private:
    machine_ptr values_[kStackDepth];
    size_t count_ = 0;
};

// Reads size bytes of task memory as an unsigned value of the image's byte order.
template <typename machine_ptr>
tlcrash_error_t readTask(tlcrash_task_t task, const Tallytlcrash_async_byteorder* byteorder, machine_ptr address,
                         uint8_t size, machine_ptr* value) {
    tlcrash_error_t err;
    switch (size) {
    case 1: {
        uint8_t v = 0;
        err = tlcrash_async_task_memcpy(task, address, 0, &v, 1);
        *value = v;
        return err;
    }
    case 2: {
        uint16_t v = 0;
        err = tlcrash_async_task_memcpy(task, address, 0, &v, 2);
        *value = byteorder->swap16(v);
        return err;
    }
    case 4: {
        uint32_t v = 0;
        err = tlcrash_async_task_read_uint32(task, byteorder, address, 0, &v);
        *value = machine_ptr(v);
        return err;
    }
    case 8: {
        uint64_t v = 0;
        err = tlcrash_async_task_read_uint64(task, byteorder, address, 0, &v);
        *value = machine_ptr(v);
        return err;
    }
    default:
        return TLCRASH_EINVAL;
    }
}

}  // namespace

template <typename machine_ptr, typename machine_ptr_s>
tlcrash_error_t tlcrash_async_dwarf_expression_eval(const tlcrash_async_mobject* mobj, tlcrash_task_t task,
                                                    const tlcrash_async_thread_state* state,
                                                    const Tallytlcrash_async_byteorder* byteorder, uint64_t address,
                                                    int64_t offset, uint64_t length, const machine_ptr* initial,
                                                    size_t initial_count, machine_ptr* result) {
    constexpr unsigned kWordBits = sizeof(machine_ptr) * 8;
    dwarf_stream stream;
    tlcrash_error_t err = stream.init(mobj, byteorder, address, offset, length);
    if (err != TLCRASH_ESUCCESS)
        return err;

    expression_stack<machine_ptr> stack;
    if (initial_count > kStackDepth)
        return TLCRASH_EINTERNAL;
    for (size_t i = 0; i < initial_count; ++i)
        stack.push(initial[i]);

#define DW_PUSH(value)                                                                                                 \
    do {                                                                                                               \
        if (!stack.push(machine_ptr(value)))                                                                           \
            return TLCRASH_EINTERNAL;                                                                                  \
    } while (0)
#define DW_POP(into)                                                                                                   \
    do {                                                                                                               \
        if (!stack.pop(&(into)))                                                                                       \
            return TLCRASH_EINTERNAL;                                                                                  \
    } while (0)
#define DW_READ(call)                                                                                                  \
    do {                                                                                                               \
        if ((call) != TLCRASH_ESUCCESS)                                                                                \
            return TLCRASH_EINVAL;                                                                                     \
    } while (0)

    auto pushRegister = [&](uint64_t dwarf_reg, int64_t addend) -> tlcrash_error_t {
        uint32_t regnum = 0;
        if (!tlcrash_async_thread_state_map_dwarf_reg(state, dwarf_reg, &regnum))
            return TLCRASH_ENOTSUP;
        if (!tlcrash_async_thread_state_has_reg(state, regnum))
            return TLCRASH_ENOTFOUND;
        machine_ptr value = machine_ptr(tlcrash_async_thread_state_get_reg(state, regnum));
        if (!stack.push(machine_ptr(value + machine_ptr(addend))))
            return TLCRASH_EINTERNAL;
        return TLCRASH_ESUCCESS;
    };

    // A branch target relative to the position after the operand; the stream's end is allowed.
    auto jump = [&](int16_t distance) -> bool {
        const uint64_t here = stream.position();
        uint64_t target;
        if (!tlcrash_async_address_apply_offset(here, distance, &target))
            return false;
        return stream.seek(target);
    };

    uint32_t operations = 0;
    while (!stream.at_end()) {
        if (++operations > kMaxOperations)
            return TLCRASH_EINVAL;
        uint8_t opcode = 0;
        DW_READ(stream.read_u8(&opcode));
        if (opcode < 0x06 || opcode > 0x96)
            return TLCRASH_ENOTSUP;

        if (opcode >= 0x30 && opcode <= 0x4F) {  // lit0 .. lit31
            DW_PUSH(opcode - 0x30);
            continue;
        }
        if (opcode >= 0x70 && opcode <= 0x8F) {  // breg0 .. breg31
            int64_t addend = 0;
            DW_READ(stream.read_sleb(&addend));
            err = pushRegister(opcode - 0x70u, addend);
            if (err != TLCRASH_ESUCCESS)
                return err;
            continue;
        }

        switch (opcode) {
        case 0x06: {  // deref
            machine_ptr addr;
            DW_POP(addr);
            machine_ptr value = 0;
            err = readTask(task, byteorder, addr, sizeof(machine_ptr), &value);
            if (err != TLCRASH_ESUCCESS)
                return err;
            DW_PUSH(value);
            break;
        }
        case 0x08: {  // const1u
            uint8_t v;
            DW_READ(stream.read_u8(&v));
            DW_PUSH(v);
            break;
        }
        case 0x09: {  // const1s
            uint8_t v;
            DW_READ(stream.read_u8(&v));
            DW_PUSH(machine_ptr_s(int8_t(v)));
            break;
        }
        case 0x0A: {  // const2u
            uint16_t v;
            DW_READ(stream.read_u16(&v));
            DW_PUSH(v);
            break;
        }
        case 0x0B: {  // const2s
            uint16_t v;
            DW_READ(stream.read_u16(&v));
            DW_PUSH(machine_ptr_s(int16_t(v)));
            break;
        }
        case 0x0C: {  // const4u
            uint32_t v;
            DW_READ(stream.read_u32(&v));
            DW_PUSH(v);
            break;
        }
        case 0x0D: {  // const4s: sign-extended like its shorter siblings
            uint32_t v;
            DW_READ(stream.read_u32(&v));
            DW_PUSH(machine_ptr_s(int32_t(v)));
            break;
        }
        case 0x0E:    // const8u
        case 0x0F: {  // const8s
            uint64_t v;
            DW_READ(stream.read_u64(&v));
            DW_PUSH(v);
            break;
        }
        case 0x10: {  // constu
            uint64_t v;
            DW_READ(stream.read_uleb(&v));
            DW_PUSH(v);
            break;
        }
        case 0x11: {  // consts
            int64_t v;
            DW_READ(stream.read_sleb(&v));
            DW_PUSH(v);
            break;
        }
        case 0x12:  // dup
            if (stack.depth() == 0 || stack.full())
                return TLCRASH_EINVAL;
            DW_PUSH(stack.at(0));
            break;
        case 0x13: {  // drop
            machine_ptr ignored;
            if (!stack.pop(&ignored))
                return TLCRASH_EINVAL;
            break;
        }
        case 0x14:  // over; a full stack is an overflow, not a silent no-op
            if (stack.depth() < 2)
                return TLCRASH_EINVAL;
            DW_PUSH(stack.at(1));
            break;
        case 0x15: {  // pick
            uint8_t index;
            DW_READ(stream.read_u8(&index));
            if (index >= stack.depth())
                return TLCRASH_EINVAL;
            DW_PUSH(stack.at(index));
            break;
        }
        case 0x16: {  // swap
            if (stack.depth() < 2)
                return TLCRASH_EINVAL;
            machine_ptr top = stack.at(0);
            stack.at(0) = stack.at(1);
            stack.at(1) = top;
            break;
        }
        case 0x17: {  // rot
            if (stack.depth() < 3)
                return TLCRASH_EINVAL;
            machine_ptr top = stack.at(0);
            stack.at(0) = stack.at(1);
            stack.at(1) = stack.at(2);
            stack.at(2) = top;
            break;
        }
        case 0x18:    // xderef
        case 0x95: {  // xderef_size
            uint8_t size = sizeof(machine_ptr);
            if (opcode == 0x95) {
                DW_READ(stream.read_u8(&size));
                if (size > sizeof(machine_ptr) || (size != 1 && size != 2 && size != 4 && size != 8))
                    return TLCRASH_EINVAL;
            }
            if (stack.depth() < 2)
                return TLCRASH_EINVAL;
            machine_ptr addr, space;
            DW_POP(addr);
            DW_POP(space);
            machine_ptr value = 0;
            err = readTask(task, byteorder, addr, size, &value);
            if (err != TLCRASH_ESUCCESS)
                return err;
            DW_PUSH(value);
            break;
        }
        case 0x94: {  // deref_size
            uint8_t size;
            DW_READ(stream.read_u8(&size));
            if (size > sizeof(machine_ptr) || (size != 1 && size != 2 && size != 4 && size != 8))
                return TLCRASH_EINVAL;
            machine_ptr addr;
            DW_POP(addr);
            machine_ptr value = 0;
            err = readTask(task, byteorder, addr, size, &value);
            if (err != TLCRASH_ESUCCESS)
                return err;
            DW_PUSH(value);
            break;
        }
        case 0x19:    // abs
        case 0x1F:    // neg
        case 0x20: {  // not
            if (stack.depth() < 1)
                return TLCRASH_EINTERNAL;
            machine_ptr& top = stack.at(0);
            if (opcode == 0x19) {
                if (machine_ptr_s(top) < 0)
                    top = machine_ptr(0) - top;
            } else if (opcode == 0x1F) {
                top = machine_ptr(0) - top;
            } else {
                top = machine_ptr(~top);
            }
            break;
        }
        case 0x23: {  // plus_uconst
            uint64_t addend;
            DW_READ(stream.read_uleb(&addend));
            if (stack.depth() < 1)
                return TLCRASH_EINTERNAL;
            stack.at(0) = machine_ptr(stack.at(0) + machine_ptr(addend));
            break;
        }
        case 0x1A:  // and
        case 0x1B:  // div
        case 0x1C:  // minus
        case 0x1D:  // mod
        case 0x1E:  // mul
        case 0x21:  // or
        case 0x22:  // plus
        case 0x24:  // shl
        case 0x25:  // shr
        case 0x26:  // shra
        case 0x27:  // xor
        case 0x29:  // eq
        case 0x2A:  // ge
        case 0x2B:  // gt
        case 0x2C:  // le
        case 0x2D:  // lt
        case 0x2E: {  // ne
            machine_ptr top, second;
            DW_POP(top);
            DW_POP(second);
            machine_ptr value = 0;
            const unsigned shift = unsigned(top % kWordBits);
            switch (opcode) {
            case 0x1A: value = second & top; break;
            case 0x1B:
                if (top == 0)
                    return TLCRASH_EINVAL;
                value = second / top;
                break;
            case 0x1C: value = machine_ptr(second - top); break;
            case 0x1D:
                if (top == 0)
                    return TLCRASH_EINVAL;
                value = second % top;
                break;
            case 0x1E: value = machine_ptr(second * top); break;
            case 0x21: value = second | top; break;
            case 0x22: value = machine_ptr(second + top); break;
            case 0x24: value = machine_ptr(second << shift); break;
            case 0x25: value = machine_ptr(second >> shift); break;
            case 0x26: value = machine_ptr(machine_ptr_s(second) >> shift); break;
            case 0x27: value = second ^ top; break;
            case 0x29: value = second == top; break;
            case 0x2A: value = second >= top; break;
            case 0x2B: value = second > top; break;
            case 0x2C: value = second <= top; break;
            case 0x2D: value = second < top; break;
            case 0x2E: value = second != top; break;
            }
            DW_PUSH(value);
            break;
        }
        case 0x28: {  // bra
            uint16_t raw;
            DW_READ(stream.read_u16(&raw));
            machine_ptr condition;
            DW_POP(condition);
            if (condition != 0 && !jump(int16_t(raw)))
                return TLCRASH_EINVAL;
            break;
        }
        case 0x2F: {  // skip
            uint16_t raw;
            DW_READ(stream.read_u16(&raw));
            if (!jump(int16_t(raw)))
                return TLCRASH_EINVAL;
            break;
        }
        case 0x92: {  // bregx
            uint64_t reg;
            int64_t addend;
            DW_READ(stream.read_uleb(&reg));
            DW_READ(stream.read_sleb(&addend));
            err = pushRegister(reg, addend);
            if (err != TLCRASH_ESUCCESS)
                return err;
            break;
        }
        case 0x96:  // nop
            break;
        default:
            return TLCRASH_ENOTSUP;
        }
    }
#undef DW_PUSH
#undef DW_POP
#undef DW_READ

    if (!stack.pop(result))
        return TLCRASH_EINVAL;
    return TLCRASH_ESUCCESS;
}

template tlcrash_error_t tlcrash_async_dwarf_expression_eval<uint32_t, int32_t>(
    const tlcrash_async_mobject*, tlcrash_task_t, const tlcrash_async_thread_state*,
    const Tallytlcrash_async_byteorder*, uint64_t, int64_t, uint64_t, const uint32_t*, size_t, uint32_t*);
template tlcrash_error_t tlcrash_async_dwarf_expression_eval<uint64_t, int64_t>(
    const tlcrash_async_mobject*, tlcrash_task_t, const tlcrash_async_thread_state*,
    const Tallytlcrash_async_byteorder*, uint64_t, int64_t, uint64_t, const uint64_t*, size_t, uint64_t*);

}  // namespace tlcrash::Tally::async
