#pragma once
// DWARF call-frame information (__eh_frame or __debug_frame): finding the FDE of a pc, parsing
// it and its CIE, running their instructions up to the pc and applying the resulting row.
#include "analytics/crash/AsyncDwarfExpression.h"
#include "analytics/crash/AsyncStackCursor.h"

struct tlcrash_async_dwarf_cie_info {
    uint64_t cie_offset;  // of the content after the length field, from the section start
    uint64_t cie_length;
    uint64_t cie_id;
    uint8_t cie_version;
    uint8_t address_size;
    uint8_t segment_size;
    uint64_t code_alignment_factor;
    int64_t data_alignment_factor;
    uint64_t return_address_register;
    struct {
        bool data_present;
        bool has_lsda_encoding;
        uint8_t lsda_encoding;
        bool has_personality_address;
        uint64_t personality_address;
        bool has_pointer_encoding;
        uint8_t pointer_encoding;
        bool signal_frame;
    } augmentation;
    uint64_t initial_instructions_offset;
    uint64_t initial_instructions_length;
};

struct tlcrash_async_dwarf_fde_info {
    uint64_t fde_offset;  // of the content after the length field, from the section start
    uint64_t fde_length;
    uint64_t cie_offset;
    uint64_t pc_start;
    uint64_t pc_end;  // exclusive
    uint64_t instructions_offset;
    uint64_t instructions_length;
};

struct tlcrash_async_dwarf_cfi_reader {
    const tlcrash_async_mobject* mobj;
    const Tallytlcrash_async_byteorder* byteorder;
    uint8_t m64;
    uint8_t debug_frame;
};

tlcrash_error_t tlcrash_async_dwarf_cfi_reader_init(tlcrash_async_dwarf_cfi_reader* reader,
                                                    const tlcrash_async_mobject* mobj,
                                                    const Tallytlcrash_async_byteorder* byteorder, bool m64,
                                                    bool debug_frame);
// The FDE whose range holds pc: 0; 8 when none does; 5 for unreadable or inconsistent data.
tlcrash_error_t tlcrash_async_dwarf_cfi_reader_find_fde(const tlcrash_async_dwarf_cfi_reader* reader, uint64_t offset,
                                                        uint64_t pc, tlcrash_async_dwarf_fde_info* fde);

// The call-frame unwinder of the stack cursor. A caller frame's pc is a return address, so its
// FDE is looked up at pc - 1: a call that ends a function must not find the next function.
tlcrash_unwind_error_t tlcrash_async_read_dwarf_frame(tlcrash_task_t task, tlcrash_async_image_list* images,
                                                      const tlcrash_async_thread_state* current,
                                                      const tlcrash_async_thread_state* previous,
                                                      tlcrash_async_thread_state* next);

namespace tlcrash::Tally::async {

enum tlcrash_dwarf_cfa_reg_rule_t : uint32_t {
    TLCRASH_DWARF_CFA_REG_RULE_OFFSET = 0,
    TLCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET = 1,
    TLCRASH_DWARF_CFA_REG_RULE_REGISTER = 2,
    TLCRASH_DWARF_CFA_REG_RULE_EXPRESSION = 3,
    TLCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION = 4,
    TLCRASH_DWARF_CFA_REG_RULE_SAME_VALUE = 5,
};

enum dwarf_cfa_rule_kind : uint32_t {
    DWARF_CFA_STATE_CFA_TYPE_UNDEFINED = 0,
    DWARF_CFA_STATE_CFA_TYPE_EXPRESSION = 1,
    DWARF_CFA_STATE_CFA_TYPE_REGISTER = 2,
    DWARF_CFA_STATE_CFA_TYPE_REGISTER_SIGNED = 3,
};

template <typename machine_ptr, typename machine_ptr_s>
struct dwarf_cfa_rule {
    dwarf_cfa_rule_kind kind = DWARF_CFA_STATE_CFA_TYPE_UNDEFINED;
    uint32_t reg = 0;
    machine_ptr offset = 0;
    uint64_t expression_address = 0;
    uint64_t expression_length = 0;
};

// The row being built: the CFA rule and one rule per register, with a stack of remembered rows.
template <typename machine_ptr, typename machine_ptr_s>
class dwarf_cfa_state {
public:
    static constexpr uint8_t kLevels = 6;
    static constexpr uint8_t kBuckets = 14;
    static constexpr uint8_t kEntries = 100;
    static constexpr uint8_t kEmpty = 0xFF;

    dwarf_cfa_state();

    bool set_register(uint32_t regnum, tlcrash_dwarf_cfa_reg_rule_t rule, machine_ptr value);
    bool get_register_rule(uint32_t regnum, tlcrash_dwarf_cfa_reg_rule_t* rule, machine_ptr* value) const;
    void remove_register(uint32_t regnum);
    uint8_t get_register_count() const { return register_count_[level_]; }

    void set_cfa_register(uint32_t regnum, machine_ptr offset);
    void set_cfa_register_signed(uint32_t regnum, machine_ptr_s offset);
    void set_cfa_expression(uint64_t address, uint64_t length);
    dwarf_cfa_rule<machine_ptr, machine_ptr_s> get_cfa_rule() const { return cfa_[level_]; }

    bool push_state();
    bool pop_state();

    tlcrash_error_t eval_program(const tlcrash_async_mobject* mobj, machine_ptr pc, machine_ptr initial_location,
                                 const tlcrash_async_dwarf_cie_info* cie,
                                 const gnu_ehptr_reader<machine_ptr>* ptr_reader,
                                 const Tallytlcrash_async_byteorder* byteorder, uint64_t section_address,
                                 uint64_t offset, uint64_t length);
    tlcrash_error_t apply_state(tlcrash_task_t task, const tlcrash_async_dwarf_cie_info* cie,
                                const tlcrash_async_thread_state* current,
                                const Tallytlcrash_async_byteorder* byteorder, tlcrash_async_thread_state* next);

    // Walks the current level's rules: buckets in order, each chain in order.
    class iterator {
    public:
        explicit iterator(const dwarf_cfa_state* state) : state_(state) {}
        bool next(uint32_t* regnum, tlcrash_dwarf_cfa_reg_rule_t* rule, machine_ptr* value);

    private:
        const dwarf_cfa_state* state_;
        uint8_t bucket_ = 0;
        uint8_t entry_ = kEmpty;
        bool started_ = false;
    };

private:
    struct entry {
        machine_ptr value;
        uint32_t regnum;
        tlcrash_dwarf_cfa_reg_rule_t rule;
        uint8_t next;
    };

    void release_level(uint8_t level);

    dwarf_cfa_rule<machine_ptr, machine_ptr_s> cfa_[kLevels];
    uint8_t register_count_[kLevels];
    uint8_t buckets_[kLevels][kBuckets];
    uint8_t level_ = 0;
    uint8_t free_list_ = 0;
    entry entries_[kEntries];
};

template <typename machine_ptr, typename machine_ptr_s>
using dwarf_cfa_state_iterator = typename dwarf_cfa_state<machine_ptr, machine_ptr_s>::iterator;

template <typename machine_ptr>
tlcrash_error_t tlcrash_async_dwarf_cie_info_init(tlcrash_async_dwarf_cie_info* info,
                                                  const tlcrash_async_mobject* mobj,
                                                  const Tallytlcrash_async_byteorder* byteorder,
                                                  const gnu_ehptr_reader<machine_ptr>* ptr_reader,
                                                  uint64_t address);

template <typename machine_ptr>
tlcrash_error_t tlcrash_async_dwarf_fde_info_init(tlcrash_async_dwarf_fde_info* info,
                                                  const tlcrash_async_mobject* mobj,
                                                  const Tallytlcrash_async_byteorder* byteorder,
                                                  uint64_t fde_address, bool debug_frame);

extern template class dwarf_cfa_state<uint32_t, int32_t>;
extern template class dwarf_cfa_state<uint64_t, int64_t>;

}  // namespace tlcrash::Tally::async
