// The Mach-O image reader on the built dylibs and on fixtures: mapping with a slide, symbols,
// malformed images, and frames named from runtime class metadata.
#include "analytics/crash/AsyncMachoReader.h"
#include "analytics/crash/AsyncObjc.h"
#include "analytics/crash/tests/support/MachOFixtureWriter.h"
#include "analytics/crash/tests/support/MachOTestLoader.h"
#include "analytics/crash/tests/support/UnwindTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <sys/mman.h>

using namespace crash_test;

namespace {

constexpr uint32_t kCpuArm = 12;
constexpr uint32_t kCpuArm64 = 0x0100000C;

struct Named {
    tlcrash_error_t code = TLCRASH_EUNKNOWN;
    uint64_t address = 0;
    std::string name;
};

void keep(uint64_t address, const char* name, void* context) {
    auto* named = static_cast<Named*>(context);
    named->address = address;
    named->name = name;
}

Named findSymbol(tlcrash_async_macho_image* image, uint64_t pc) {
    Named out;
    out.code = tlcrash_async_macho_find_symbol(image, pc, keep, &out);
    return out;
}

Named symbolicate(tlcrash_async_macho_image* image, uint32_t strategy, tlcrash_async_objc_cache* cache, uint64_t pc) {
    Named out;
    out.code = tlcrash_async_symbolicate(image, strategy, cache, pc, keep, &out);
    return out;
}

// A fixture with a few functions: two with one address, a Thumb one, a local and a global at one
// address.
MachOFixtureWriter symbolFixture(uint32_t cpu, bool is64, bool swapped) {
    MachOFixtureWriter w(cpu, is64, swapped);
    w.addSection("__TEXT", "__text", std::vector<uint8_t>(0x100, 0));
    w.addSymbol("_thumb", 0x1000, 0x0008);
    w.addSymbol("_second_in_name_first_in_table", 0x1010);
    w.addSymbol("_first_in_name_second_in_table", 0x1010);
    w.addSymbol("_local_twin", 0x1020, 0, 0x0E);
    w.addSymbol("_global_twin", 0x1020);
    w.addSymbol("_debug_entry", 0x1030, 0, 0x24);
    return w;
}

size_t commandOffset(std::vector<uint8_t> const& file, uint32_t cmd) {
    uint32_t ncmds;
    std::memcpy(&ncmds, file.data() + 16, 4);
    size_t at = 32;
    for (uint32_t i = 0; i < ncmds; ++i) {
        uint32_t c, size;
        std::memcpy(&c, file.data() + at, 4);
        std::memcpy(&size, file.data() + at + 4, 4);
        if (c == cmd)
            return at;
        at += size;
    }
    throw std::runtime_error("no such command");
}

void set32(std::vector<uint8_t>& file, size_t at, uint32_t value) { std::memcpy(file.data() + at, &value, 4); }

uint32_t get32(std::vector<uint8_t> const& file, size_t at) {
    uint32_t v;
    std::memcpy(&v, file.data() + at, 4);
    return v;
}

}  // namespace

TEST(CrashMachOImage, BuiltImagesMapWithASlide) {
    struct Expect {
        char const* file;
        uint32_t cpu;
        char const* section;
    };
    for (Expect const& e : {Expect{"arm64_unwind.dylib", kCpuArm64, "__eh_frame"},
                            Expect{"x86_64_chain.dylib", 0x01000007, "__eh_frame"},
                            Expect{"objc_arm64.dylib", kCpuArm64, "__unwind_info"}}) {
        MachOTestLoader loader(readBytes(imagesDir() / e.file), e.file);
        tlcrash_async_macho_image* image = loader.image();
        EXPECT_NE(loader.slide(), 0u) << e.file;
        EXPECT_EQ(image->vmaddr_slide, loader.slide()) << e.file;
        EXPECT_STREQ(image->name, e.file);
        EXPECT_EQ(tlcrash_async_macho_image_cpu_type(image), e.cpu) << e.file;
        EXPECT_TRUE(image->m64);
        EXPECT_TRUE(tlcrash_async_macho_image_contains_address(image, image->header_addr));
        EXPECT_FALSE(tlcrash_async_macho_image_contains_address(image, image->header_addr + image->text_size));
        tlcrash_async_mobject section;
        ASSERT_EQ(tlcrash_async_macho_image_map_section(image, "__TEXT", e.section, &section), TLCRASH_ESUCCESS);
        EXPECT_GT(tlcrash_async_mobject_length(&section), 0u);
        EXPECT_EQ(tlcrash_async_mobject_base_address(&section) - image->header_addr >= 0x200, true);
        tlcrash_async_mobject_free(&section);
        EXPECT_EQ(tlcrash_async_macho_image_map_section(image, "__TEXT", "__nothing", &section), TLCRASH_ENOTFOUND);
        EXPECT_EQ(tlcrash_async_macho_image_map_section(image, "__NOTHING", "__text", &section), TLCRASH_ENOTFOUND);
        uint64_t fileoff = 0, filesize = 0;
        ASSERT_EQ(tlcrash_async_macho_image_map_segment(image, "__LINKEDIT", &section, &fileoff, &filesize),
                  TLCRASH_ESUCCESS);
        EXPECT_GT(fileoff, 0u);
        EXPECT_GT(filesize, 0u);
        tlcrash_async_mobject_free(&section);
    }
}

TEST(CrashMachOImage, SymbolsResolveToTheClosestAtOrBelow) {
    MachOTestLoader loader(readBytes(imagesDir() / "arm64_unwind.dylib"), "arm64_unwind.dylib");
    const uint64_t spills = loader.symbol("_arm64_spills");
    Named found = findSymbol(loader.image(), spills + 8);
    EXPECT_EQ(found.code, TLCRASH_ESUCCESS);
    EXPECT_EQ(found.name, "_arm64_spills");
    EXPECT_EQ(found.address, spills);
    EXPECT_EQ(findSymbol(loader.image(), loader.base()).code, TLCRASH_ENOTFOUND) << "the header lies below every symbol";

    // Names longer than a report holds are cut to 255 characters.
    const std::string longName =
        "_a_name_far_longer_than_any_report_keeps_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_"
        "0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_"
        "0123456789_0123456789_0123456789_0123456789_0123456789_end";
    Named cut = symbolicate(loader.image(), TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr,
                            loader.symbol(longName) + 2);
    EXPECT_EQ(cut.code, TLCRASH_ESUCCESS);
    EXPECT_EQ(cut.name, longName.substr(0, 255));
    EXPECT_EQ(symbolicate(loader.image(), 0, nullptr, spills).code, TLCRASH_ENOTFOUND) << "no strategy, no name";

    // Fixtures in each width and byte order, with and without the dynamic symbol table.
    struct Variant {
        uint32_t cpu;
        bool is64, swapped, dysymtab;
    };
    for (Variant v : {Variant{kCpuArm, false, false, true}, Variant{kCpuArm, false, true, true},
                      Variant{kCpuArm64, true, true, true}, Variant{kCpuArm64, true, false, false}}) {
        MachOFixtureWriter writer = symbolFixture(v.cpu, v.is64, v.swapped);
        writer.setDysymtab(v.dysymtab);
        MachOTestLoader fixture(writer.build(), "fixture");
        const std::string label = std::to_string(v.is64) + std::to_string(v.swapped) + std::to_string(v.dysymtab);
        Named thumb = findSymbol(fixture.image(), fixture.address(0x1004));
        EXPECT_EQ(thumb.name, "_thumb") << label;
        EXPECT_EQ(thumb.address, fixture.address(0x1001)) << "Thumb definitions are reported at value + 1, " << label;
        EXPECT_EQ(findSymbol(fixture.image(), fixture.address(0x1010)).name, "_second_in_name_first_in_table") << label;
        EXPECT_EQ(findSymbol(fixture.image(), fixture.address(0x1028)).name,
                  v.dysymtab ? "_global_twin" : "_local_twin")
            << "globals are searched first when the dynamic table splits them, " << label;
        EXPECT_EQ(findSymbol(fixture.image(), fixture.address(0x1038)).name,
                  v.dysymtab ? "_global_twin" : "_local_twin")
            << "debugging entries are not functions, " << label;
        EXPECT_EQ(findSymbol(fixture.image(), fixture.address(0xFF8)).code, TLCRASH_ENOTFOUND) << label;
    }
}

TEST(CrashMachOImage, MalformedImagesGiveCodesAndKeepNothing) {
    const std::vector<uint8_t> good = symbolFixture(kCpuArm64, true, false).build();

    // Failures of image creation, on the bytes in place, with unreadable memory right after them.
    auto init = [](std::vector<uint8_t> const& bytes) {
        const size_t span = (bytes.size() + 4095) / 4096 * 4096;
        auto* place = static_cast<uint8_t*>(mmap(nullptr, span + 4096, PROT_READ | PROT_WRITE,
                                                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(place + span, 4096, PROT_NONE);
        std::memcpy(place, bytes.data(), bytes.size());
        tlcrash_async_macho_image image;
        tlcrash_error_t err = tlcrash_async_macho_image_init(&image, tlcrash_async_task_self(), "broken",
                                                             addressOf(place));
        munmap(place, span + 4096);
        if (err == TLCRASH_ESUCCESS)
            tlcrash_async_macho_image_free(&image);
        else
            EXPECT_EQ(image.name, nullptr) << "a failed image keeps no copy of its name";
        return err;
    };
    EXPECT_EQ(init(good), TLCRASH_ESUCCESS);
    struct Mutation {
        char const* name;
        std::function<void(std::vector<uint8_t>&)> change;
        tlcrash_error_t code;
    };
    const size_t text = commandOffset(good, 0x19);
    const std::vector<Mutation> initFaults = {
        {"magic", [](auto& f) { set32(f, 0, 0xFEEDFACD); }, TLCRASH_EINVAL},
        {"no __TEXT", [&](auto& f) { f[text + 10] = 'X'; }, TLCRASH_EINVAL},
        {"commands area cuts the first segment", [](auto& f) { set32(f, 20, 40); }, TLCRASH_EINVAL},
        {"commands area past readable memory", [](auto& f) { set32(f, 20, 0x40000); }, TLCRASH_ENOMEM},
    };
    for (Mutation const& m : initFaults) {
        std::vector<uint8_t> bytes = good;
        m.change(bytes);
        EXPECT_EQ(init(bytes), m.code) << m.name;
    }
    void* unreadable = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    tlcrash_async_macho_image image;
    EXPECT_EQ(tlcrash_async_macho_image_init(&image, tlcrash_async_task_self(), "gone", addressOf(unreadable)),
              TLCRASH_EINTERNAL);
    EXPECT_EQ(image.name, nullptr);
    munmap(unreadable, 4096);

    // Failures of lookups, on images mapped by the loader.
    const size_t symtab = commandOffset(good, 0x2), dysymtab = commandOffset(good, 0xB);
    struct LookupFault {
        char const* name;
        std::function<void(std::vector<uint8_t>&)> change;
        std::function<tlcrash_error_t(MachOTestLoader&)> run;
        tlcrash_error_t code;
    };
    auto lookup = [](MachOTestLoader& l) { return findSymbol(l.image(), l.address(0x1004)).code; };
    auto section = [](MachOTestLoader& l) {
        tlcrash_async_mobject mobj;
        tlcrash_error_t err = tlcrash_async_macho_image_map_section(l.image(), "__TEXT", "__zzz", &mobj);
        if (err == TLCRASH_ESUCCESS)
            tlcrash_async_mobject_free(&mobj);
        return err;
    };
    const std::vector<LookupFault> lookupFaults = {
        {"no LC_SYMTAB", [&](auto& f) { set32(f, symtab, 0x99); }, lookup, TLCRASH_ENOTFOUND},
        {"symbols past __LINKEDIT", [&](auto& f) { set32(f, symtab + 8, 0x7FFFFF00); }, lookup, TLCRASH_EINTERNAL},
        {"symbol count past __LINKEDIT", [&](auto& f) { set32(f, symtab + 12, 0x10000000); }, lookup,
         TLCRASH_EINTERNAL},
        {"strings before __LINKEDIT", [&](auto& f) { set32(f, symtab + 16, 0); }, lookup, TLCRASH_EINTERNAL},
        {"name offset past the strings",
         [&](auto& f) {
             for (uint32_t i = 0; i < get32(f, symtab + 12); ++i)
                 set32(f, get32(f, symtab + 8) + i * 16, 0x7FFFFFFF);
         },
         lookup, TLCRASH_EINVAL},
        {"name without its NUL",
         [&](auto& f) {
             // Cut the string table three characters into the name of the symbol at 0x1000.
             for (uint32_t i = 0; i < get32(f, symtab + 12); ++i) {
                 const size_t entry = get32(f, symtab + 8) + i * 16;
                 if (get32(f, entry + 8) == 0x1000)
                     set32(f, symtab + 20, get32(f, entry) + 3);
             }
         },
         lookup, TLCRASH_EINVAL},
        {"globals past the table", [&](auto& f) { set32(f, dysymtab + 20, 0xFFFFFFFF); }, lookup, TLCRASH_EINVAL},
        {"locals wrap around", [&](auto& f) { set32(f, dysymtab + 8, 0xFFFFFFF0); set32(f, dysymtab + 12, 0x20); },
         lookup, TLCRASH_EINVAL},
        {"section headers past the commands", [&](auto& f) { set32(f, text + 64, 1000); }, section, TLCRASH_EINVAL},
    };
    for (LookupFault const& m : lookupFaults) {
        std::vector<uint8_t> bytes = good;
        m.change(bytes);
        MachOTestLoader loader(bytes, m.name);
        EXPECT_EQ(m.run(loader), m.code) << m.name;
    }
}

namespace {

struct ReadWriteHead {
    uint32_t flags;
    uint32_t version;
    uint64_t readOnly;
};

constexpr uint32_t kRealized = 1u << 31;
constexpr uint32_t kCopied = 1u << 27;

// What the runtime does when it realizes a class: the data field now points at a read-write head.
void realize(MachOTestLoader& loader, std::string const& className, ReadWriteHead* rw, uint32_t flags,
             uint64_t readOnly = 0) {
    auto* data = reinterpret_cast<uint64_t*>(loader.symbol(className) + 32);
    rw->flags = flags;
    rw->version = 0;
    rw->readOnly = readOnly ? readOnly : *data;
    *data = addressOf(rw);
}

}  // namespace

TEST(CrashClassMetadata, MethodsNameFramesOfRealizedClasses) {
    MachOTestLoader loader(readBytes(imagesDir() / "objc_arm64.dylib"), "objc_arm64.dylib", false, true);
    tlcrash_async_objc_cache cache;
    tlcrash_async_objc_cache_init(&cache);
    const uint32_t both = TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE | TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC;
    const uint64_t instThing = loader.symbol("-[Root instThing:]");
    const uint64_t otherThing = loader.symbol("-[Other otherThing]");

    // As linked, no class is realized: nothing to name from the metadata.
    EXPECT_EQ(symbolicate(loader.image(), TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, &cache, instThing).code,
              TLCRASH_ENOTFOUND);
    EXPECT_EQ(tlcrash_async_objc_walk(loader.image(), nullptr, nullptr, nullptr), TLCRASH_EACCESS);

    static ReadWriteHead rootClass, rootMeta;
    realize(loader, "_OBJC_CLASS_$_Root", &rootClass, kRealized);
    realize(loader, "_OBJC_METACLASS_$_Root", &rootMeta, kRealized);
    tlcrash_async_objc_cache_free(&cache);
    tlcrash_async_objc_cache_init(&cache);

    struct Expect {
        char const* symbol;
        uint32_t strategy;
        char const* name;
    };
    const Expect expectations[] = {
        {"-[Root instThing:]", both, "-[Root instThing:]"},
        {"-[Root instThing:]", TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, "-[Root instThing:]"},
        {"+[Root classThing]", TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, "+[Root classThing]"},
        // The category's methods carry the class's name; with both strategies they replace the
        // symbol at the same address.
        {"-[Root(Extra) catThing]", both, "-[Root catThing]"},
        {"+[Root(Extra) catClassThing]", TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, "+[Root catClassThing]"},
        {"-[Root(Extra) catThing]", TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, "-[Root(Extra) catThing]"},
        // Other is not realized: its method is skipped, the closest realized one below is named.
        {"-[Other otherThing]", TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, "+[Root catClassThing]"},
        {"-[Other otherThing]", both, "-[Other otherThing]"},
    };
    for (Expect const& e : expectations) {
        const uint64_t pc = loader.symbol(e.symbol);
        for (uint64_t at : {pc, pc + 2}) {
            Named named = symbolicate(loader.image(), e.strategy, &cache, at);
            EXPECT_EQ(named.code, TLCRASH_ESUCCESS) << e.symbol;
            EXPECT_EQ(named.name, e.name) << e.symbol << " strategy " << e.strategy;
        }
    }
    EXPECT_EQ(symbolicate(loader.image(), TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, &cache, instThing).address, instThing);

    // Other realized with its read-only data copied elsewhere (bit 27), and Root's isa carrying
    // the bits of a non-pointer isa that the class mask removes.
    static ReadWriteHead otherClass, otherMeta;
    static uint8_t copiedReadOnly[72];
    const uint64_t* otherData = reinterpret_cast<uint64_t*>(loader.symbol("_OBJC_CLASS_$_Other") + 32);
    std::memcpy(copiedReadOnly, reinterpret_cast<const void*>(*otherData), sizeof copiedReadOnly);
    realize(loader, "_OBJC_CLASS_$_Other", &otherClass, kRealized | kCopied, addressOf(copiedReadOnly));
    realize(loader, "_OBJC_METACLASS_$_Other", &otherMeta, kRealized);
    auto* rootIsa = reinterpret_cast<uint64_t*>(loader.symbol("_OBJC_CLASS_$_Root"));
    ASSERT_LT(*rootIsa, 1ull << 35) << "the image must sit low for the mask to keep the metaclass";
    *rootIsa |= 1 | (0x5Aull << 40);
    tlcrash_async_objc_cache_free(&cache);
    tlcrash_async_objc_cache_init(&cache);
    EXPECT_EQ(symbolicate(loader.image(), TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, &cache, otherThing + 2).name,
              "-[Other otherThing]");
    EXPECT_EQ(symbolicate(loader.image(), TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, &cache,
                          loader.symbol("+[Root classThing]"))
                  .name,
              "+[Root classThing]");
    tlcrash_async_objc_cache_free(&cache);

    // An image without any class metadata.
    MachOTestLoader plain(readBytes(imagesDir() / "arm64_unwind.dylib"), "arm64_unwind.dylib");
    tlcrash_async_objc_cache_init(&cache);
    EXPECT_EQ(tlcrash_async_objc_find_method(plain.image(), &cache, plain.base() + 0x4000, nullptr, nullptr),
              TLCRASH_ENOTFOUND);
    tlcrash_async_objc_cache_free(&cache);
}

TEST(CrashClassMetadata, LegacyModulesOfThirtyTwoBitImages) {
    MachOFixtureWriter w(kCpuArm, false, false);
    w.addSection("__TEXT", "__text", std::vector<uint8_t>(0x400, 0));
    const uint64_t strings = w.addSection("__TEXT", "__cstring", {'L', 'e', 'g', 'a', 'c', 'y', 0, 'r', 'u', 'n',
                                                                   0, 'm', 'a', 'k', 'e', 0, 'v', 0});
    const uint64_t className = strings, run = strings + 7, make = strings + 11, types = strings + 16;

    auto methodList = [&](uint64_t name, uint64_t imp) {
        std::vector<uint8_t> b;
        w.put32(b, 0);
        w.put32(b, 1);
        w.put32(b, uint32_t(name));
        w.put32(b, uint32_t(types));
        w.put32(b, uint32_t(imp));
        const uint64_t at = w.addSection("__OBJC", name == run ? "__inst_meth" : "__cls_meth", b);
        for (uint64_t field : {8, 12, 16})
            w.addRebase(at + field);
        return at;
    };
    const uint64_t instanceList = methodList(run, 0x1100);
    const uint64_t classList = methodList(make, 0x1200);
    std::vector<uint8_t> lists;
    w.put32(lists, uint32_t(instanceList));
    w.put32(lists, 0);
    const uint64_t listArray = w.addSection("__OBJC", "__lists", lists);
    w.addRebase(listArray);

    auto legacyClass = [&](char const* section, uint64_t isa, uint32_t info, uint64_t methodLists) {
        std::vector<uint8_t> b;
        for (uint64_t field : {isa, uint64_t(0), className, uint64_t(0), uint64_t(info), uint64_t(8), uint64_t(0),
                               methodLists, uint64_t(0), uint64_t(0)})
            w.put32(b, uint32_t(field));
        const uint64_t at = w.addSection("__OBJC", section, b);
        for (uint64_t field : {0, 8, 28})
            if ((field == 0 && isa) || field != 0)
                w.addRebase(at + field);
        return at;
    };
    const uint64_t meta = legacyClass("__meta_class", 0, 0x4000, classList);
    const uint64_t cls = legacyClass("__class", meta, 0, listArray);
    std::vector<uint8_t> symtab;
    w.put32(symtab, 0);
    w.put32(symtab, 0);
    w.put16(symtab, 1);
    w.put16(symtab, 0);
    w.put32(symtab, uint32_t(cls));
    const uint64_t symtabAt = w.addSection("__OBJC", "__symbols", symtab);
    w.addRebase(symtabAt + 12);
    std::vector<uint8_t> module;
    for (uint32_t field : {7u, 16u, uint32_t(className), uint32_t(symtabAt)})
        w.put32(module, field);
    const uint64_t moduleAt = w.addSection("__OBJC", "__module_info", module);
    w.addRebase(moduleAt + 8);
    w.addRebase(moduleAt + 12);
    w.addSymbol("_start", 0x1000);

    MachOTestLoader loader(w.build(), "legacy");
    tlcrash_async_objc_cache cache;
    tlcrash_async_objc_cache_init(&cache);
    Named instance = symbolicate(loader.image(), TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, &cache, loader.address(0x1104));
    EXPECT_EQ(instance.code, TLCRASH_ESUCCESS);
    EXPECT_EQ(instance.name, "-[Legacy run]");
    EXPECT_EQ(instance.address, loader.address(0x1100));
    EXPECT_EQ(symbolicate(loader.image(), 3, &cache, loader.address(0x1204)).name, "+[Legacy make]");
    EXPECT_EQ(symbolicate(loader.image(), 3, &cache, loader.address(0x1010)).name, "_start");
    tlcrash_async_objc_cache_free(&cache);
}

TEST(CrashMachOImage, TaskStringsCrossPagesButNotIntoUnreadableMemory) {
    auto* pages = static_cast<char*>(mmap(nullptr, 3 * 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(pages + 2 * 4096, 4096, PROT_NONE);
    tlcrash_async_macho_image image{};
    image.task = tlcrash_async_task_self();
    // "crossing" starts three bytes before the page boundary.
    std::memcpy(pages + 4096 - 3, "crossing", 9);
    std::memset(pages + 2 * 4096 - 5, 'x', 5);  // no NUL before the unreadable page
    struct Case {
        uint64_t address;
        tlcrash_error_t code;
        char const* text;
    };
    for (Case c : {Case{addressOf(pages + 4096 - 3), TLCRASH_ESUCCESS, "crossing"},
                   Case{addressOf(pages + 2 * 4096 - 5), TLCRASH_EINVAL, nullptr},
                   Case{addressOf(pages + 2 * 4096), TLCRASH_EINVAL, nullptr}}) {
        tlcrash_async_task_string string;
        tlcrash_async_task_string_init(&string, &image, c.address);
        const char* text = nullptr;
        uint64_t length = 0;
        EXPECT_EQ(tlcrash_async_task_string_pointer(&string, &text), c.code);
        if (c.text != nullptr) {
            EXPECT_STREQ(text, c.text);
            EXPECT_EQ(tlcrash_async_task_string_length(&string, &length), TLCRASH_ESUCCESS);
            EXPECT_EQ(length, std::strlen(c.text));
        }
        tlcrash_async_task_string_free(&string);
    }
    munmap(pages, 3 * 4096);
}
