// Compact unwind: lookups in the real __unwind_info that lld writes (compressed pages) and in
// hand-built regular pages, decoding for 64-bit ARM and x86, and applying entries to stacks.
#include "analytics/crash/AsyncCompactUnwind.h"
#include "analytics/crash/AsyncDwarfCfi.h"
#include "analytics/crash/AsyncMachoReader.h"
#include "analytics/crash/tests/support/MachOFixtureWriter.h"
#include "analytics/crash/tests/support/MachOTestLoader.h"
#include "analytics/crash/tests/support/UnwindTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace crash_test;

namespace {

struct Lookup {
    tlcrash_error_t code;
    uint32_t function = 0;
    uint32_t encoding = 0;
};

Lookup findIn(const tlcrash_async_mobject* section, uint32_t cpu, uint64_t pc) {
    tlcrash_async_compact_unwind_reader reader;
    Lookup out{tlcrash_async_compact_unwind_reader_init(&reader, section, cpu)};
    if (out.code == TLCRASH_ESUCCESS)
        out.code = tlcrash_async_compact_unwind_reader_find_pc(&reader, pc, &out.function, &out.encoding);
    return out;
}

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    if (v.size() < at + 4)
        v.resize(at + 4, 0);
    std::memcpy(v.data() + at, &x, 4);
}

void put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    if (v.size() < at + 2)
        v.resize(at + 2, 0);
    std::memcpy(v.data() + at, &x, 2);
}

// One common encoding, a first-level index of one entry and a sentinel at `end`, and one
// second-level page at offset 0x40.
std::vector<uint8_t> unwindInfo(uint32_t first, uint32_t end, uint32_t common) {
    std::vector<uint8_t> v;
    put32(v, 0, 1);
    put32(v, 4, 28);
    put32(v, 8, 1);
    put32(v, 12, 32);
    put32(v, 16, 0);
    put32(v, 20, 32);
    put32(v, 24, 2);
    put32(v, 28, common);
    put32(v, 32, first);
    put32(v, 36, 0x40);
    put32(v, 44, end);
    return v;
}

tlcrash_async_compact_unwind_entry decode(uint32_t cpu, uint32_t encoding) {
    tlcrash_async_compact_unwind_entry entry;
    EXPECT_EQ(tlcrash_async_compact_unwind_entry_init(&entry, cpu, encoding), TLCRASH_ESUCCESS) << std::hex << encoding;
    return entry;
}

// The inverse of the permutation decoding, as the linker writes it.
uint32_t encodePermutation(std::vector<uint32_t> const& codes) {
    std::vector<uint32_t> renumbered;
    for (size_t i = 0; i < codes.size(); ++i) {
        uint32_t smaller = 0;
        for (size_t j = 0; j < i; ++j)
            smaller += codes[j] < codes[i];
        renumbered.push_back(codes[i] - 1 - smaller);
    }
    const auto& r = renumbered;
    switch (codes.size()) {
    case 6:
    case 5: return 120 * r[0] + 24 * r[1] + 6 * r[2] + 2 * r[3] + r[4];
    case 4: return 60 * r[0] + 12 * r[1] + 3 * r[2] + r[3];
    case 3: return 20 * r[0] + 4 * r[1] + r[2];
    case 2: return 5 * r[0] + r[1];
    case 1: return r[0];
    default: return 0;
    }
}

}  // namespace

TEST(CrashCompactUnwind, LookupsInTheLinkersCompressedPages) {
    MachOTestLoader arm64(readBytes(imagesDir() / "arm64_unwind.dylib"), "arm64_unwind.dylib");
    MachOTestLoader x86(readBytes(imagesDir() / "x86_64_chain.dylib"), "x86_64_chain.dylib");
    tlcrash_async_mobject section;

    ASSERT_EQ(tlcrash_async_macho_image_map_section(arm64.image(), "__TEXT", "__unwind_info", &section), TLCRASH_ESUCCESS);
    const uint64_t header = arm64.base();
    for (char const* name : {"_arm64_leaf", "_arm64_spills"}) {
        const uint64_t offset = arm64.symbol(name) - header;
        Lookup found = findIn(&section, TLCRASH_CPU_TYPE_ARM64, offset + 4);
        ASSERT_EQ(found.code, TLCRASH_ESUCCESS) << name;
        EXPECT_EQ(found.function, offset) << name;
    }
    EXPECT_EQ(decode(TLCRASH_CPU_TYPE_ARM64, findIn(&section, TLCRASH_CPU_TYPE_ARM64, arm64.symbol("_arm64_leaf") - header).encoding).type,
              TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD);
    EXPECT_EQ(decode(TLCRASH_CPU_TYPE_ARM64, findIn(&section, TLCRASH_CPU_TYPE_ARM64, arm64.symbol("_arm64_spills") - header).encoding).type,
              TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR);
    EXPECT_EQ(decode(TLCRASH_CPU_TYPE_ARM64, findIn(&section, TLCRASH_CPU_TYPE_ARM64, arm64.symbol("_cfi_val_offset") - header).encoding).type,
              TLCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF);
    EXPECT_EQ(findIn(&section, TLCRASH_CPU_TYPE_ARM64, 0).code, TLCRASH_ENOTFOUND) << "below the first function";
    EXPECT_EQ(findIn(&section, TLCRASH_CPU_TYPE_X86 + 1, 0x4000).code, TLCRASH_ENOTSUP);
    tlcrash_async_mobject_free(&section);

    ASSERT_EQ(tlcrash_async_macho_image_map_section(x86.image(), "__TEXT", "__unwind_info", &section), TLCRASH_ESUCCESS);
    const uint64_t frameless = x86.symbol("_chain_frameless") - x86.base();
    Lookup found = findIn(&section, TLCRASH_CPU_TYPE_X86_64, frameless + 9);
    ASSERT_EQ(found.code, TLCRASH_ESUCCESS);
    EXPECT_EQ(found.function, frameless);
    tlcrash_async_compact_unwind_entry entry = decode(TLCRASH_CPU_TYPE_X86_64, found.encoding);
    EXPECT_EQ(entry.type, TLCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD);
    EXPECT_EQ(entry.stack_value, 64) << "return address, rbx and 48 bytes of locals";
    ASSERT_EQ(entry.register_count, 1u);
    EXPECT_EQ(entry.registers[0], uint32_t(TLCRASH_X86_64_RBX));
    // The sentinel bounds the last function: a pc past the end of the described code is not found.
    const uint64_t end = x86.symbol("_chain_after_last_call") - x86.base() + 0x40;
    EXPECT_EQ(findIn(&section, TLCRASH_CPU_TYPE_X86_64, end).code, TLCRASH_ENOTFOUND);
    tlcrash_async_mobject_free(&section);
}

TEST(CrashCompactUnwind, HandBuiltPagesAndTheirFaults) {
    // A regular page: function offsets and encodings in full.
    std::vector<uint8_t> regular = unwindInfo(0x1000, 0x3000, 0x02001000);
    put32(regular, 0x40, 2);
    put16(regular, 0x44, 8);
    put16(regular, 0x46, 3);
    const uint32_t entries[3][2] = {{0x1000, 0x0A}, {0x1800, 0x0B}, {0x2000, 0x0C}};
    for (int i = 0; i < 3; ++i) {
        put32(regular, 0x48 + i * 8, entries[i][0]);
        put32(regular, 0x4C + i * 8, entries[i][1]);
    }
    {
        LocalObject mobj(regular);
        const std::pair<uint64_t, uint32_t> expectations[] = {{0x1000, 0x0A}, {0x17FF, 0x0A}, {0x1800, 0x0B}, {0x2FFF, 0x0C}};
        for (auto const& [pc, encoding] : expectations) {
            Lookup found = findIn(mobj.get(), TLCRASH_CPU_TYPE_ARM64, pc);
            EXPECT_EQ(found.code, TLCRASH_ESUCCESS) << std::hex << pc;
            EXPECT_EQ(found.encoding, encoding) << std::hex << pc;
        }
        EXPECT_EQ(findIn(mobj.get(), TLCRASH_CPU_TYPE_ARM64, 0x3000).code, TLCRASH_ENOTFOUND) << "at the sentinel";
        EXPECT_EQ(findIn(mobj.get(), TLCRASH_CPU_TYPE_ARM64, 0xFFF).code, TLCRASH_ENOTFOUND);
    }

    // A compressed page with one encoding of its own: index 0 is common, 1 the page's own, 2 past it.
    std::vector<uint8_t> compressed = unwindInfo(0x1000, 0x1400, 0x02001000);
    put32(compressed, 0x40, 3);
    put16(compressed, 0x44, 12);
    put16(compressed, 0x46, 3);
    put16(compressed, 0x48, 24);
    put16(compressed, 0x4A, 1);
    put32(compressed, 0x4C, (0u << 24) | 0x000);
    put32(compressed, 0x50, (1u << 24) | 0x100);
    put32(compressed, 0x54, (2u << 24) | 0x200);
    put32(compressed, 0x58, 0x04000011);
    {
        LocalObject mobj(compressed);
        EXPECT_EQ(findIn(mobj.get(), TLCRASH_CPU_TYPE_ARM64, 0x1004).encoding, 0x02001000u);
        Lookup local = findIn(mobj.get(), TLCRASH_CPU_TYPE_ARM64, 0x1104);
        EXPECT_EQ(local.code, TLCRASH_ESUCCESS);
        EXPECT_EQ(local.function, 0x1100u);
        EXPECT_EQ(local.encoding, 0x04000011u);
        EXPECT_EQ(findIn(mobj.get(), TLCRASH_CPU_TYPE_ARM64, 0x1204).code, TLCRASH_EINVAL) << "page-local index past the page";
    }
    // Damaged headers and pages.
    std::vector<uint8_t> badKind = regular;
    put32(badKind, 0x40, 7);
    std::vector<uint8_t> badVersion = regular;
    put32(badVersion, 0, 2);
    std::vector<uint8_t> farPage = regular;
    put32(farPage, 36, 0x7FFFFFF0);
    std::vector<uint8_t> manyEntries = regular;
    put16(manyEntries, 0x46, 0xFFFF);
    {
        LocalObject a(badKind), b(badVersion), c(farPage), d(manyEntries);
        EXPECT_EQ(findIn(a.get(), TLCRASH_CPU_TYPE_ARM64, 0x1004).code, TLCRASH_EINVAL);
        EXPECT_EQ(findIn(b.get(), TLCRASH_CPU_TYPE_ARM64, 0x1004).code, TLCRASH_ENOTSUP);
        EXPECT_EQ(findIn(c.get(), TLCRASH_CPU_TYPE_ARM64, 0x1004).code, TLCRASH_EINVAL);
        EXPECT_EQ(findIn(d.get(), TLCRASH_CPU_TYPE_ARM64, 0x1004).code, TLCRASH_EINVAL);
        uint8_t shortHeader[12] = {1};
        LocalObject e(shortHeader, sizeof shortHeader);
        EXPECT_EQ(findIn(e.get(), TLCRASH_CPU_TYPE_ARM64, 0x1004).code, TLCRASH_EINVAL);
    }

    // Through an image, the out-of-range index leaves the unwinder without information.
    MachOFixtureWriter writer(TLCRASH_CPU_TYPE_ARM64, true, false);
    ASSERT_EQ(writer.addSection("__TEXT", "__text", std::vector<uint8_t>(0x400, 0)), 0x1000u);
    writer.addSection("__TEXT", "__unwind_info", compressed);
    writer.addSymbol("_fixture", 0x1000);
    ImageList images;  // outlives the images announced to it
    MachOTestLoader loader(writer.build(), "fixture.dylib");
    loader.announce(images.get());
    tlcrash_async_thread_state current = arm64State(), next;
    tlcrash_async_thread_state_set_reg(&current, 0, loader.address(0x1204));
    EXPECT_EQ(tlcrash_async_read_compact_unwind_frame(tlcrash_async_task_self(), images.get(), &current, nullptr, &next),
              TLCRASH_UNWIND_NOT_SUPPORTED);
}

TEST(CrashCompactUnwind, Arm64EntriesRestoreTheirRegisters) {
    // Frameless, 3 x 16 bytes of stack, x19/x20 pair: both sit at the top of the area.
    uint64_t stack[6] = {0, 0, 0, 0, 0x2020, 0x1919};
    tlcrash_async_thread_state current = arm64State(), next;
    tlcrash_async_thread_state_set_reg(&current, 2, addressOf(stack));
    tlcrash_async_thread_state_set_reg(&current, kArm64Lr, 0x7777);
    tlcrash_async_compact_unwind_entry frameless = decode(TLCRASH_CPU_TYPE_ARM64, 0x02003001);
    ASSERT_EQ(tlcrash_async_compact_unwind_apply(tlcrash_async_task_self(), 0, &current, &frameless, &next), TLCRASH_ESUCCESS);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, arm64X(20)), 0x2020u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, arm64X(19)), 0x1919u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 0), 0x7777u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 2), addressOf(stack) + 48);

    // Frame-based with x27/x28 and x19/x20: four registers below fp, then fp and lr.
    uint64_t frame[6] = {0x2828, 0x2727, 0x2020, 0x1919, 0xF0F0, 0x4242};
    current = arm64State();
    tlcrash_async_thread_state_set_reg(&current, 1, addressOf(&frame[4]));
    tlcrash_async_compact_unwind_entry framed = decode(TLCRASH_CPU_TYPE_ARM64, 0x04000011);
    ASSERT_EQ(tlcrash_async_compact_unwind_apply(tlcrash_async_task_self(), 0, &current, &framed, &next), TLCRASH_ESUCCESS);
    const uint64_t expected[][2] = {{arm64X(28), 0x2828}, {arm64X(27), 0x2727}, {arm64X(20), 0x2020},
                                    {arm64X(19), 0x1919}, {1, 0xF0F0},          {0, 0x4242}};
    for (auto const& [reg, value] : expected)
        EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, uint32_t(reg)), value) << reg;
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 2), addressOf(&frame[6]));

    // What a frame must know, and what the decoder refuses.
    tlcrash_async_thread_state bare = arm64State();
    EXPECT_EQ(tlcrash_async_compact_unwind_apply(tlcrash_async_task_self(), 0, &bare, &frameless, &next), TLCRASH_ENOTFOUND);
    EXPECT_EQ(tlcrash_async_compact_unwind_apply(tlcrash_async_task_self(), 0, &bare, &framed, &next), TLCRASH_ENOTFOUND);
    tlcrash_async_compact_unwind_entry dwarf = decode(TLCRASH_CPU_TYPE_ARM64, 0x03000040);
    EXPECT_EQ(dwarf.type, TLCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF);
    EXPECT_EQ(dwarf.stack_value, 0x40);
    EXPECT_EQ(tlcrash_async_compact_unwind_apply(tlcrash_async_task_self(), 0, &current, &dwarf, &next), TLCRASH_ENOTSUP);
    tlcrash_async_compact_unwind_entry entry;
    EXPECT_EQ(tlcrash_async_compact_unwind_entry_init(&entry, TLCRASH_CPU_TYPE_ARM64, 0x05000000), TLCRASH_ENOTSUP);
    EXPECT_EQ(tlcrash_async_compact_unwind_entry_init(&entry, 12, 0x02000000), TLCRASH_ENOTSUP);
}

TEST(CrashCompactUnwind, DwarfModeEntriesPassOnToTheCallFrameReader) {
    ImageList images;  // outlives the images announced to it
    MachOTestLoader loader(readBytes(imagesDir() / "arm64_unwind.dylib"), "arm64_unwind.dylib");
    loader.announce(images.get());
    uint64_t stack[6] = {1, 2, 3, 4, 5, 0x6666};
    tlcrash_async_thread_state start = arm64State(), next;
    tlcrash_async_thread_state_set_reg(&start, 0, loader.symbol("_cfi_val_offset") + 4);
    tlcrash_async_thread_state_set_reg(&start, 2, addressOf(stack));
    EXPECT_EQ(tlcrash_async_read_compact_unwind_frame(tlcrash_async_task_self(), images.get(), &start, nullptr, &next),
              TLCRASH_UNWIND_NO_FRAME);

    tlcrash_async_stack_cursor cursor;
    tlcrash_async_stack_cursor_init(&cursor, tlcrash_async_task_self(), &start, images.get());
    ASSERT_EQ(tlcrash_async_stack_cursor_next(&cursor), TLCRASH_UNWIND_ESUCCESS);
    ASSERT_EQ(tlcrash_async_stack_cursor_next(&cursor), TLCRASH_UNWIND_ESUCCESS);
    uint64_t pc = 0, x19 = 0;
    EXPECT_EQ(tlcrash_async_stack_cursor_get_reg(&cursor, 0, &pc), TLCRASH_UNWIND_ESUCCESS);
    EXPECT_EQ(pc, 0x6666u);
    EXPECT_EQ(tlcrash_async_stack_cursor_get_reg(&cursor, arm64X(19), &x19), TLCRASH_UNWIND_ESUCCESS)
        << "only the call-frame reader knows x19";
    EXPECT_EQ(x19, addressOf(stack) + 32);
    tlcrash_async_stack_cursor_free(&cursor);

    // A function whose entry says "no unwind information" ends the walk.
    tlcrash_async_thread_state_set_reg(&start, 0, loader.symbol("_aaa_first_alias"));
    EXPECT_EQ(tlcrash_async_read_compact_unwind_frame(tlcrash_async_task_self(), images.get(), &start, nullptr, &next),
              TLCRASH_UNWIND_NOT_SUPPORTED)
        << "past the sentinel there is no entry at all";
}

TEST(CrashCompactUnwind, X86EncodingsDecodeAndApply) {
    // Every ordered choice of 1 to 6 registers survives a round trip through the permutation.
    for (uint32_t count = 1; count <= 6; ++count) {
        std::vector<uint32_t> codes = {1, 2, 3, 4, 5, 6};
        std::vector<bool> pick(6, false);
        std::fill(pick.begin(), pick.begin() + count, true);
        do {
            std::vector<uint32_t> chosen;
            for (uint32_t i = 0; i < 6; ++i)
                if (pick[i])
                    chosen.push_back(codes[i]);
            do {
                uint32_t decoded[6] = {};
                ASSERT_EQ(tlcrash_async_compact_unwind_decode_permutation(count, encodePermutation(chosen), decoded),
                          TLCRASH_ESUCCESS);
                ASSERT_TRUE(std::equal(chosen.begin(), chosen.end(), decoded)) << count;
            } while (std::next_permutation(chosen.begin(), chosen.end()));
        } while (std::prev_permutation(pick.begin(), pick.end()));
    }
    uint32_t decoded[6];
    EXPECT_EQ(tlcrash_async_compact_unwind_decode_permutation(7, 0, decoded), TLCRASH_EINVAL);
    EXPECT_EQ(tlcrash_async_compact_unwind_decode_permutation(1, 6, decoded), TLCRASH_EINVAL);
    uint32_t reg;
    EXPECT_EQ(tlcrash_async_compact_unwind_map_register(TLCRASH_CPU_TYPE_X86, 7, &reg), TLCRASH_EINVAL);
    EXPECT_EQ(tlcrash_async_compact_unwind_map_register(TLCRASH_CPU_TYPE_X86, 6, &reg), TLCRASH_ESUCCESS);
    EXPECT_EQ(reg, 1u) << "ebp";

    // x86-64 frame: rbx then r12 saved just below rbp, 2 words.
    uint64_t frame[4] = {0xBB, 0x12, 0xF0, 0x4444};
    tlcrash_async_thread_state current = x86State(), next;
    tlcrash_async_thread_state_set_reg(&current, 1, addressOf(&frame[2]));
    tlcrash_async_compact_unwind_entry framed = decode(TLCRASH_CPU_TYPE_X86_64, 0x01020000 | 1 | (2 << 3));
    ASSERT_EQ(framed.register_count, 2u);
    ASSERT_EQ(tlcrash_async_compact_unwind_apply(tlcrash_async_task_self(), 0, &current, &framed, &next), TLCRASH_ESUCCESS);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, TLCRASH_X86_64_RBX), 0xBBu);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 13), 0x12u) << "r12";
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 0), 0x4444u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 2), addressOf(&frame[4]));

    // Frameless with the stack size read from the code: 0x20 + 8 x 1, r15 and rbx pushed.
    uint8_t code[16] = {};
    const uint32_t immediate = 0x20;
    std::memcpy(code + 6, &immediate, 4);
    uint64_t stack[6] = {0, 0, 0x1515, 0xBBBB, 0x9999, 0};
    std::vector<uint32_t> order = {5, 1};  // r15, rbx
    const uint32_t encoding = 0x03000000 | (6u << 16) | (1u << 13) | (2u << 10) | encodePermutation(order);
    tlcrash_async_compact_unwind_entry indirect = decode(TLCRASH_CPU_TYPE_X86_64, encoding);
    current = x86State();
    tlcrash_async_thread_state_set_reg(&current, 2, addressOf(stack));
    ASSERT_EQ(tlcrash_async_compact_unwind_apply(tlcrash_async_task_self(), addressOf(code), &current, &indirect, &next),
              TLCRASH_ESUCCESS);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 2), addressOf(stack) + 0x28);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 0), 0x9999u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 16), 0x1515u) << "r15";
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, TLCRASH_X86_64_RBX), 0xBBBBu);

    // 32-bit x86 words are 4 bytes wide.
    tlcrash_async_compact_unwind_entry small = decode(TLCRASH_CPU_TYPE_X86, 0x02030000);
    EXPECT_EQ(small.stack_value, 12);
    EXPECT_EQ(tlcrash_async_compact_unwind_entry_init(&small, TLCRASH_CPU_TYPE_X86, 0x01000007), TLCRASH_EINVAL)
        << "register code 7";
}
