// Image creation, load-command iteration, section mapping and symbol lookup on arbitrary bytes.
#include "analytics/crash/AsyncMachoReader.h"
#include "analytics/crash/AsyncObjc.h"
#include "analytics/crash/fuzz/UnwindFuzzSupport.h"

#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    crash_fuzz::Guarded image(data, size);
    tlcrash_async_macho_image macho;
    if (tlcrash_async_macho_image_init(&macho, tlcrash_async_task_self(), "fuzz", image.address()) != TLCRASH_ESUCCESS)
        return 0;
    unsigned commands = 0;
    for (void* cmd = tlcrash_async_macho_image_next_command(&macho, nullptr); cmd != nullptr && commands < 100000;
         cmd = tlcrash_async_macho_image_next_command(&macho, cmd))
        ++commands;
    static const char* const sections[][2] = {{"__TEXT", "__text"},          {"__TEXT", "__unwind_info"},
                                              {"__TEXT", "__eh_frame"},      {"__DWARF", "__debug_frame"},
                                              {"__DATA", "__objc_const"},    {"__OBJC", "__module_info"}};
    for (auto const& s : sections) {
        tlcrash_async_mobject mobj;
        if (tlcrash_async_macho_image_map_section(&macho, s[0], s[1], &mobj) == TLCRASH_ESUCCESS)
            tlcrash_async_mobject_free(&mobj);
    }
    tlcrash_async_objc_cache cache;
    tlcrash_async_objc_cache_init(&cache);
    for (uint64_t offset : {uint64_t(0), uint64_t(0x1000), uint64_t(0x4010), uint64_t(size)}) {
        tlcrash_async_symbolicate(&macho, 3, &cache, macho.header_addr + offset, [](uint64_t, const char*, void*) {},
                                  nullptr);
    }
    tlcrash_async_objc_cache_free(&cache);
    tlcrash_async_macho_image_free(&macho);
    return 0;
}
