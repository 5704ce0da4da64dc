// DWARF call-frame information: the fixed-up __eh_frame of the built images, the assembler's
// arm64 programs unwound through the image list, hand-built entries for what the tools do not
// emit (64-bit lengths, odd augmentations), and this very test binary's ELF .eh_frame.
#include "analytics/crash/AsyncDwarfCfi.h"
#include "analytics/crash/AsyncMachoReader.h"
#include "analytics/crash/tests/support/MachOTestLoader.h"
#include "analytics/crash/tests/support/UnwindTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <link.h>

using namespace tlcrash::Tally::async;
using namespace crash_test;

namespace {

using State64 = dwarf_cfa_state<uint64_t, int64_t>;

struct Bytes {
    std::vector<uint8_t> v;
    void u8(uint8_t x) { v.push_back(x); }
    void u32(uint32_t x) { append(&x, 4); }
    void u64(uint64_t x) { append(&x, 8); }
    void append(const void* p, size_t n) { v.insert(v.end(), (const uint8_t*)p, (const uint8_t*)p + n); }
    void bytes(std::initializer_list<uint8_t> list) { v.insert(v.end(), list); }
    void patch32(size_t at, uint32_t x) { std::memcpy(v.data() + at, &x, 4); }
    void patch64(size_t at, uint64_t x) { std::memcpy(v.data() + at, &x, 8); }
};

// Finds the FDE of pc in a section and runs its CIE's and its own program up to pc.
template <typename W, typename S>
tlcrash_error_t runTo(const tlcrash_async_mobject* section, uint64_t pc, dwarf_cfa_state<W, S>* state,
                      tlcrash_async_dwarf_cie_info* cie, bool debugFrame = false) {
    tlcrash_async_dwarf_cfi_reader reader;
    tlcrash_async_dwarf_cfi_reader_init(&reader, section, tlcrash_async_byteorder_native(), sizeof(W) == 8, debugFrame);
    tlcrash_async_dwarf_fde_info fde;
    tlcrash_error_t err = tlcrash_async_dwarf_cfi_reader_find_fde(&reader, 0, pc, &fde);
    if (err != TLCRASH_ESUCCESS)
        return err;
    gnu_ehptr_reader<W> ptr(tlcrash_async_byteorder_native());
    const uint64_t base = tlcrash_async_mobject_base_address(section);
    if ((err = tlcrash_async_dwarf_cie_info_init<W>(cie, section, tlcrash_async_byteorder_native(), &ptr,
                                                    base + fde.cie_offset)) != TLCRASH_ESUCCESS)
        return err;
    if ((err = state->eval_program(section, W(pc), W(fde.pc_start), cie, &ptr, tlcrash_async_byteorder_native(), base,
                                   cie->initial_instructions_offset, cie->initial_instructions_length)) !=
        TLCRASH_ESUCCESS)
        return err;
    return state->eval_program(section, W(pc), W(fde.pc_start), cie, &ptr, tlcrash_async_byteorder_native(), base,
                               fde.instructions_offset, fde.instructions_length);
}

// A CIE of the 32-bit form: "zR" with absolute 8-byte pointers, x86-64 numbering (RA 16).
size_t addCie(Bytes& b, std::initializer_list<uint8_t> instructions, char const* augmentation = "zR") {
    const size_t start = b.v.size();
    b.u32(0);
    b.u32(0);
    b.u8(1);
    b.append(augmentation, std::strlen(augmentation) + 1);
    b.bytes({0x01, 0x78, 0x10});  // caf 1, daf -8, RA 16
    if (augmentation[0] == 'z')
        b.bytes({0x01, 0x00});  // one byte of data: absolute pointers
    b.bytes(instructions);
    while ((b.v.size() - start) % 8)
        b.u8(0);
    b.patch32(start, uint32_t(b.v.size() - start - 4));
    return start;
}

size_t addFde(Bytes& b, size_t cie, uint64_t pcStart, uint64_t range, std::initializer_list<uint8_t> instructions) {
    const size_t start = b.v.size();
    b.u32(0);
    b.u32(uint32_t(start + 4 - cie));
    b.u64(pcStart);
    b.u64(range);
    b.u8(0);  // augmentation length
    b.bytes(instructions);
    while ((b.v.size() - start) % 8)
        b.u8(0);
    b.patch32(start, uint32_t(b.v.size() - start - 4));
    return start;
}

}  // namespace

TEST(CrashDwarfCfi, FixedUpEhFrameHoldsOneFdePerFunction) {
    MachOTestLoader arm64(readBytes(imagesDir() / "arm64_unwind.dylib"), "arm64_unwind.dylib");
    MachOTestLoader x86(readBytes(imagesDir() / "x86_64_chain.dylib"), "x86_64_chain.dylib");
    struct Expect {
        MachOTestLoader* loader;
        char const* name;
        bool covered;
    };
    const Expect expectations[] = {
        {&arm64, "_cfi_nested_five", true}, {&arm64, "_cfi_nested_six", true},   {&arm64, "_cfi_cfa_expression", true},
        {&arm64, "_cfi_val_offset", true},  {&arm64, "_arm64_spills", false},    {&x86, "_chain_dwarf_hop", true},
        {&x86, "_chain_last_call", true},   {&x86, "_chain_frameless", false},
    };
    for (Expect const& e : expectations) {
        tlcrash_async_mobject section;
        ASSERT_EQ(tlcrash_async_macho_image_map_section(e.loader->image(), "__TEXT", "__eh_frame", &section),
                  TLCRASH_ESUCCESS);
        tlcrash_async_dwarf_cfi_reader reader;
        tlcrash_async_dwarf_cfi_reader_init(&reader, &section, e.loader->image()->byteorder, true, false);
        tlcrash_async_dwarf_fde_info fde;
        const uint64_t function = e.loader->symbol(e.name);
        const tlcrash_error_t err = tlcrash_async_dwarf_cfi_reader_find_fde(&reader, 0, function + 1, &fde);
        if (e.covered) {
            EXPECT_EQ(err, TLCRASH_ESUCCESS) << e.name;
            EXPECT_EQ(fde.pc_start, function) << e.name;
        } else {
            EXPECT_EQ(err, TLCRASH_ENOTFOUND) << e.name;
        }
        tlcrash_async_mobject_free(&section);
    }
}

TEST(CrashDwarfCfi, AssemblerProgramsUnwindThroughTheImageList) {
    ImageList images;  // outlives the images announced to it
    MachOTestLoader loader(readBytes(imagesDir() / "arm64_unwind.dylib"), "arm64_unwind.dylib");
    loader.announce(images.get());
    uint64_t stack[8] = {0x1111, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666, 0x7777, 0x8888};

    // Five nested remember_state: the row still stands (CFA sp + 16, fp and lr below it).
    tlcrash_async_thread_state current = arm64State(), next;
    tlcrash_async_thread_state_set_reg(&current, 0, loader.symbol("_cfi_nested_five") + 4);
    tlcrash_async_thread_state_set_reg(&current, 2, addressOf(stack));
    EXPECT_EQ(tlcrash_async_read_dwarf_frame(tlcrash_async_task_self(), images.get(), &current, nullptr, &next),
              TLCRASH_UNWIND_ESUCCESS);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 0), 0x2222u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 1), 0x1111u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 2), addressOf(stack) + 16);

    // A sixth level does not fit: the program fails with 3 and the unwinder has nothing.
    tlcrash_async_mobject section;
    ASSERT_EQ(tlcrash_async_macho_image_map_section(loader.image(), "__TEXT", "__eh_frame", &section), TLCRASH_ESUCCESS);
    State64 state;
    tlcrash_async_dwarf_cie_info cie;
    EXPECT_EQ(runTo(&section, loader.symbol("_cfi_nested_six") + 4, &state, &cie), TLCRASH_ENOMEM);
    tlcrash_async_mobject_free(&section);
    tlcrash_async_thread_state_set_reg(&current, 0, loader.symbol("_cfi_nested_six") + 4);
    EXPECT_EQ(tlcrash_async_read_dwarf_frame(tlcrash_async_task_self(), images.get(), &current, nullptr, &next),
              TLCRASH_UNWIND_NOT_SUPPORTED);

    // CFA from an expression: x29 + 32, with fp and lr saved at its bottom.
    current = arm64State();
    tlcrash_async_thread_state_set_reg(&current, 0, loader.symbol("_cfi_cfa_expression") + 8);
    tlcrash_async_thread_state_set_reg(&current, 1, addressOf(stack));
    EXPECT_EQ(tlcrash_async_read_dwarf_frame(tlcrash_async_task_self(), images.get(), &current, nullptr, &next),
              TLCRASH_UNWIND_ESUCCESS);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 2), addressOf(stack) + 32);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 0), 0x2222u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 1), 0x1111u);

    // val_offset: x19 is the address CFA - 16 itself.
    current = arm64State();
    tlcrash_async_thread_state_set_reg(&current, 0, loader.symbol("_cfi_val_offset") + 4);
    tlcrash_async_thread_state_set_reg(&current, 2, addressOf(stack));
    EXPECT_EQ(tlcrash_async_read_dwarf_frame(tlcrash_async_task_self(), images.get(), &current, nullptr, &next),
              TLCRASH_UNWIND_ESUCCESS);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, arm64X(19)), addressOf(stack) + 32);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 0), 0x6666u);

    // Not in any function with an FDE, and not in any image.
    tlcrash_async_thread_state_set_reg(&current, 0, loader.symbol("_arm64_leaf"));
    EXPECT_EQ(tlcrash_async_read_dwarf_frame(tlcrash_async_task_self(), images.get(), &current, nullptr, &next),
              TLCRASH_UNWIND_NOT_SUPPORTED);
    tlcrash_async_thread_state_set_reg(&current, 0, addressOf(stack));
    EXPECT_EQ(tlcrash_async_read_dwarf_frame(tlcrash_async_task_self(), images.get(), &current, nullptr, &next),
              TLCRASH_UNWIND_NOT_SUPPORTED);
}

TEST(CrashDwarfCfi, HandBuiltEntriesAndTheirFaults) {
    const uint64_t fn = 0x10000;
    Bytes b;
    const size_t cie = addCie(b, {0x0C, 0x07, 0x08, 0x90, 0x01});  // def_cfa rsp 8; rip at cfa - 8
    addFde(b, cie, fn, 0x40,
           {0x41, 0x0E, 0x10, 0x86, 0x02,  // at +1: cfa rsp + 16; rbp at cfa - 16
            0x0A, 0x41, 0x0E, 0x20, 0x0B,  // remember; at +2: cfa + 32; restore
            0x44, 0x0E, 0x30});             // at +6: cfa + 48
    // The same function again in the 64-bit form, at another address.
    const size_t cie64 = b.v.size();
    b.u32(0xFFFFFFFF);
    b.u64(0);
    b.u64(0);
    b.bytes({0x01, 'z', 'R', 0, 0x01, 0x78, 0x10, 0x01, 0x00, 0x0C, 0x07, 0x08});
    b.patch64(cie64 + 4, b.v.size() - cie64 - 12);
    const size_t fde64 = b.v.size();
    b.u32(0xFFFFFFFF);
    b.u64(0);
    b.u64(fde64 + 12 - cie64);
    b.u64(fn + 0x100);
    b.u64(0x10);
    b.bytes({0x00, 0x42, 0x0E, 0x18});
    b.patch64(fde64 + 4, b.v.size() - fde64 - 12);
    b.u32(0);  // terminator

    LocalObject mobj(b.v);
    tlcrash_async_dwarf_cie_info info;
    {
        State64 state;
        ASSERT_EQ(runTo(mobj.get(), fn + 3, &state, &info), TLCRASH_ESUCCESS);
        EXPECT_EQ(state.get_cfa_rule().kind, DWARF_CFA_STATE_CFA_TYPE_REGISTER);
        EXPECT_EQ(state.get_cfa_rule().offset, 16u) << "the restored row, not the remembered one's change";
        tlcrash_dwarf_cfa_reg_rule_t rule;
        uint64_t value;
        ASSERT_TRUE(state.get_register_rule(6, &rule, &value));
        EXPECT_EQ(rule, TLCRASH_DWARF_CFA_REG_RULE_OFFSET);
        EXPECT_EQ(int64_t(value), -16);
    }
    {
        State64 state;
        ASSERT_EQ(runTo(mobj.get(), fn + 1, &state, &info), TLCRASH_ESUCCESS);
        EXPECT_EQ(state.get_cfa_rule().offset, 16u);
        State64 before;
        ASSERT_EQ(runTo(mobj.get(), fn, &before, &info), TLCRASH_ESUCCESS);
        EXPECT_EQ(before.get_cfa_rule().offset, 8u) << "advance_loc past the pc stops before what follows";
    }
    {
        State64 state;
        ASSERT_EQ(runTo(mobj.get(), fn + 0x105, &state, &info), TLCRASH_ESUCCESS) << "64-bit form";
        EXPECT_EQ(state.get_cfa_rule().offset, 24u);
        EXPECT_EQ(info.initial_instructions_length, 3u);
    }
    {
        State64 state;
        EXPECT_EQ(runTo(mobj.get(), fn + 0x200, &state, &info), TLCRASH_ENOTFOUND);
    }

    // Applying the row: CFA = rsp + 16, rip and rbp from the stack.
    {
        State64 state;
        ASSERT_EQ(runTo(mobj.get(), fn + 1, &state, &info), TLCRASH_ESUCCESS);
        uint64_t stack[2] = {0xAAAA, 0xBBBB};
        tlcrash_async_thread_state current = x86State(), next;
        tlcrash_async_thread_state_set_reg(&current, 2, addressOf(stack));
        tlcrash_async_thread_state_set_reg(&current, 0, fn + 1);
        ASSERT_EQ(state.apply_state(tlcrash_async_task_self(), &info, &current, tlcrash_async_byteorder_native(), &next),
                  TLCRASH_ESUCCESS);
        EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 0), 0xBBBBu);
        EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 1), 0xAAAAu);
        EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 2), addressOf(stack) + 16);
        EXPECT_FALSE(tlcrash_async_thread_state_has_reg(&next, 3)) << "rax is volatile";
    }

    // Entries that are not right.
    struct Bad {
        char const* name;
        std::function<void(Bytes&)> build;
        tlcrash_error_t code;
    };
    const std::vector<Bad> bad = {
        {"first entry of length 0", [](Bytes& b) { b.u32(0); b.u32(0); }, TLCRASH_ENOTFOUND},
        {"augmentation eh", [&](Bytes& b) { addFde(b, addCie(b, {}, "eh"), fn, 0x10, {}); }, TLCRASH_ENOTSUP},
        {"restore_state at level 0", [&](Bytes& b) { addFde(b, addCie(b, {}), fn, 0x10, {0x0B}); }, TLCRASH_EINVAL},
        {"def_cfa_offset without a CFA", [&](Bytes& b) { addFde(b, addCie(b, {}), fn, 0x10, {0x0E, 0x08}); },
         TLCRASH_EINVAL},
        {"opcode 0x2e", [&](Bytes& b) { addFde(b, addCie(b, {}), fn, 0x10, {0x2E, 0x00}); }, TLCRASH_ENOTSUP},
        {"operand past the end",
         [&](Bytes& b) { addFde(b, addCie(b, {}), fn, 0x10, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0C}); },
         TLCRASH_EINVAL},
        {"register beyond 32 bits",
         [&](Bytes& b) { addFde(b, addCie(b, {}), fn, 0x10, {0x07, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}); },
         TLCRASH_ENOTSUP},
        {"CIE pointer before the section",
         [&](Bytes& b) {
             const size_t at = addFde(b, addCie(b, {}), fn, 0x10, {});
             b.patch32(at + 4, 0x1000);
         },
         TLCRASH_EINVAL},
        {"length past the end",
         [&](Bytes& b) {
             const size_t at = addFde(b, addCie(b, {}), fn, 0x10, {});
             b.patch32(at, 0x7FFFFFF0);
         },
         TLCRASH_EINVAL},
    };
    for (Bad const& c : bad) {
        Bytes section;
        c.build(section);
        section.v.resize(section.v.size() + 16, 0);
        LocalObject object(section.v);
        State64 state;
        EXPECT_EQ(runTo(object.get(), fn + 4, &state, &info), c.code) << c.name;
    }
}

TEST(CrashDwarfCfi, DebugFrameAndThirtyTwoBitWords) {
    // __debug_frame: CIE id all ones, FDEs point at their CIE by offset from the section start.
    Bytes d;
    d.u32(0);
    d.u32(0xFFFFFFFF);
    d.bytes({0x01, 0x00, 0x04, 0x7C, 0x0E, 0x0C, 0x0D, 0x00});  // v1, no augmentation, caf 4, daf -4, RA 14
    d.patch32(0, uint32_t(d.v.size() - 4));
    const size_t fde = d.v.size();
    d.u32(0);
    d.u32(0);          // the CIE at offset 0
    d.u32(0x8000);     // pc_start, a 32-bit word
    d.u32(0x40);
    d.bytes({0x42, 0x0E, 0x08, 0x8E, 0x01, 0x00, 0x00, 0x00});  // at +8: cfa sp + 8; lr at cfa - 4
    d.patch32(fde, uint32_t(d.v.size() - fde - 4));
    d.u32(0);
    LocalObject mobj(d.v);
    dwarf_cfa_state<uint32_t, int32_t> state;
    tlcrash_async_dwarf_cie_info cie;
    ASSERT_EQ(runTo(mobj.get(), 0x8010, &state, &cie, true), TLCRASH_ESUCCESS);
    EXPECT_EQ(cie.cie_id, 0xFFFFFFFFu);
    EXPECT_EQ(state.get_cfa_rule().reg, 13u);
    EXPECT_EQ(state.get_cfa_rule().offset, 8u);
    tlcrash_dwarf_cfa_reg_rule_t rule;
    uint32_t value;
    ASSERT_TRUE(state.get_register_rule(14, &rule, &value));
    EXPECT_EQ(int32_t(value), -4);
    dwarf_cfa_state<uint32_t, int32_t> early;
    ASSERT_EQ(runTo(mobj.get(), 0x8004, &early, &cie, true), TLCRASH_ESUCCESS);
    EXPECT_EQ(early.get_cfa_rule().offset, 0u) << "only the initial instructions apply before +8";
    // Read as eh_frame, the same bytes make no sense: the CIE id is not 0.
    EXPECT_NE(runTo(mobj.get(), 0x8010, &state, &cie, false), TLCRASH_ESUCCESS);
}

TEST(CrashDwarfCfi, RowRulesAndThePool) {
    // The return address column without a rule: pc comes from lr (DWARF 30).
    tlcrash_async_dwarf_cie_info cie{};
    cie.return_address_register = 30;
    State64 state;
    state.set_cfa_register(31, 0);
    tlcrash_async_thread_state current = arm64State(), next;
    tlcrash_async_thread_state_set_reg(&current, 2, 0x7000);
    tlcrash_async_thread_state_set_reg(&current, kArm64Lr, 0x4242);
    tlcrash_async_thread_state_set_reg(&current, arm64X(19), 0x1919);
    ASSERT_TRUE(state.set_register(19, TLCRASH_DWARF_CFA_REG_RULE_SAME_VALUE, 0));
    ASSERT_TRUE(state.set_register(20, TLCRASH_DWARF_CFA_REG_RULE_REGISTER, 19));
    ASSERT_EQ(state.apply_state(tlcrash_async_task_self(), &cie, &current, tlcrash_async_byteorder_native(), &next),
              TLCRASH_ESUCCESS);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 0), 0x4242u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, arm64X(19)), 0x1919u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, arm64X(20)), 0x1919u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 2), 0x7000u);

    // A CFA register the processor does not have.
    state.set_cfa_register(33, 0);
    EXPECT_EQ(state.apply_state(tlcrash_async_task_self(), &cie, &current, tlcrash_async_byteorder_native(), &next),
              TLCRASH_ENOTSUP);

    // Many remember/restore pairs (one per epilogue) with a full row: popped levels give their
    // entries back, so the pool never runs dry.
    State64 busy;
    for (uint32_t r = 0; r < 40; ++r)
        ASSERT_TRUE(busy.set_register(r, TLCRASH_DWARF_CFA_REG_RULE_OFFSET, r * 8));
    for (int epilogue = 0; epilogue < 20; ++epilogue) {
        ASSERT_TRUE(busy.push_state()) << epilogue;
        busy.remove_register(3);
        ASSERT_TRUE(busy.pop_state());
    }
    EXPECT_EQ(busy.get_register_count(), 40);
    tlcrash_dwarf_cfa_reg_rule_t rule;
    uint64_t value;
    EXPECT_TRUE(busy.get_register_rule(3, &rule, &value)) << "restore brings back the remembered row";
    ASSERT_TRUE(busy.push_state());
    EXPECT_FALSE(busy.push_state()) << "a third copy of 40 rules does not fit in 100 entries";
    EXPECT_EQ(busy.get_register_count(), 40);

    // The iterator visits every rule of the current level once.
    State64 few;
    for (uint32_t r : {3u, 17u, 31u, 45u})
        few.set_register(r, TLCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET, r);
    State64::iterator it(&few);
    uint32_t regnum, seen = 0, sum = 0;
    while (it.next(&regnum, &rule, &value)) {
        ++seen;
        sum += regnum;
    }
    EXPECT_EQ(seen, 4u);
    EXPECT_EQ(sum, 96u);
}

namespace {

__attribute__((noinline)) int hostFunction(int x) {
    volatile int y = x;
    return y * 3;
}

struct EhFrameSearch {
    uint64_t ehFrame = 0;
    uint64_t segmentEnd = 0;
};

int findEhFrame(dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<EhFrameSearch*>(data);
    const uint64_t target = addressOf(reinterpret_cast<const void*>(&hostFunction));
    bool mine = false;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& p = info->dlpi_phdr[i];
        if (p.p_type == PT_LOAD && target >= info->dlpi_addr + p.p_vaddr &&
            target < info->dlpi_addr + p.p_vaddr + p.p_memsz)
            mine = true;
    }
    if (!mine)
        return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& p = info->dlpi_phdr[i];
        if (p.p_type != PT_GNU_EH_FRAME)
            continue;
        const uint8_t* hdr = reinterpret_cast<const uint8_t*>(info->dlpi_addr + p.p_vaddr);
        if (hdr[0] != 1 || hdr[1] != 0x1B)
            return 0;
        int32_t relative;
        std::memcpy(&relative, hdr + 4, 4);
        search->ehFrame = addressOf(hdr + 4) + int64_t(relative);
        for (int j = 0; j < info->dlpi_phnum; ++j) {
            const ElfW(Phdr)& q = info->dlpi_phdr[j];
            const uint64_t start = info->dlpi_addr + q.p_vaddr;
            if (q.p_type == PT_LOAD && search->ehFrame >= start && search->ehFrame < start + q.p_memsz)
                search->segmentEnd = start + q.p_memsz;
        }
        return 1;
    }
    return 0;
}

}  // namespace

TEST(CrashDwarfCfi, ReadsThisProgramsOwnEhFrame) {
    EhFrameSearch search;
    dl_iterate_phdr(findEhFrame, &search);
    ASSERT_NE(search.ehFrame, 0u);
    tlcrash_async_mobject section;
    ASSERT_EQ(tlcrash_async_mobject_init(&section, tlcrash_async_task_self(), search.ehFrame,
                                         search.segmentEnd - search.ehFrame, false),
              TLCRASH_ESUCCESS);
    const uint64_t function = addressOf(reinterpret_cast<const void*>(&hostFunction));
    State64 state;
    tlcrash_async_dwarf_cie_info cie;
    ASSERT_EQ(runTo(&section, function, &state, &cie), TLCRASH_ESUCCESS);
    EXPECT_EQ(cie.return_address_register, 16u);
    EXPECT_TRUE(cie.augmentation.has_pointer_encoding);
    // At the entry the CFA is rsp + 8 and the return address sits just below it.
    EXPECT_EQ(state.get_cfa_rule().reg, 7u);
    EXPECT_EQ(state.get_cfa_rule().offset, 8u);
    tlcrash_dwarf_cfa_reg_rule_t rule;
    uint64_t value;
    ASSERT_TRUE(state.get_register_rule(16, &rule, &value));
    EXPECT_EQ(int64_t(value), -8);
    hostFunction(1);

    // Every FDE of the program parses: a scan for a pc nobody covers ends at the terminator.
    tlcrash_async_dwarf_cfi_reader reader;
    tlcrash_async_dwarf_cfi_reader_init(&reader, &section, tlcrash_async_byteorder_native(), true, false);
    tlcrash_async_dwarf_fde_info fde;
    EXPECT_EQ(tlcrash_async_dwarf_cfi_reader_find_fde(&reader, 0, 1, &fde), TLCRASH_ENOTFOUND);
    tlcrash_async_mobject_free(&section);
}
