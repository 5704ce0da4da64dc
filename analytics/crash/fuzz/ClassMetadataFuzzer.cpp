// The class metadata walker on arbitrary metadata in an image whose every word is slid, so
// small values become pointers into the image.
#include "analytics/crash/AsyncObjc.h"
#include "analytics/crash/fuzz/UnwindFuzzSupport.h"

#include <initializer_list>
#include "analytics/crash/tests/support/MachOFixtureWriter.h"
#include "analytics/crash/tests/support/MachOTestLoader.h"

#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    crash_fuzz::Input input(data, size);
    const uint8_t flags = input.take<uint8_t>();
    const bool is64 = !(flags & 1);
    crash_test::MachOFixtureWriter writer(is64 ? 0x0100000C : 12, is64, false);
    writer.addSection("__TEXT", "__text", std::vector<uint8_t>(0x100, 0));
    const uint64_t word = is64 ? 8 : 4;
    auto take = [&](char const* segment, char const* name, size_t limit) {
        size_t n = std::min<size_t>(input.take<uint8_t>() * word, std::min(limit, input.restSize()));
        n -= n % word;
        std::vector<uint8_t> bytes(input.rest(), input.rest() + n);
        for (size_t i = 0; i < n; ++i)
            input.take<uint8_t>();
        const uint64_t at = writer.addSection(segment, name, bytes);
        for (uint64_t offset = 0; offset < n; offset += word)
            writer.addRebase(at + offset);
    };
    if (flags & 2) {
        take("__OBJC", "__module_info", 0x400);
        take("__OBJC", "__data", 0x2000);
    } else {
        take("__DATA", "__objc_classlist", 0x400);
        take("__DATA", "__objc_catlist", 0x400);
        take("__DATA", "__objc_data", 0x1000);
        take("__DATA", "__objc_const", 0x2000);
    }
    writer.addSymbol("_text", 0x1000);
    try {
        crash_test::MachOTestLoader loader(writer.build(), "fuzz", false, true);
        tlcrash_async_objc_cache cache;
        tlcrash_async_objc_cache_init(&cache);
        for (uint64_t pc : {loader.address(0x1000), loader.address(0x1080), loader.address(0x8000)}) {
            tlcrash_async_symbolicate(loader.image(), 2, &cache, pc, [](uint64_t, const char*, void*) {}, nullptr);
        }
        tlcrash_async_objc_cache_free(&cache);
    } catch (std::exception const&) {
        // A fixture the loader cannot map is not what this target is about.
    }
    return 0;
}
