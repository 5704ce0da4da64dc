// The stack cursor with every unwinder over random stacks and registers, with real images in
// the image list: every walk ends, and nothing faults.
#include "analytics/crash/AsyncStackCursor.h"
#include "analytics/crash/fuzz/UnwindFuzzSupport.h"
#include "analytics/crash/tests/support/MachOTestLoader.h"

#include <memory>

namespace {

struct Images {
    tlcrash_async_image_list list;
    std::unique_ptr<crash_test::MachOTestLoader> arm64, x86;
    Images() {
        tlcrash_async_image_list_init(&list, tlcrash_async_task_self());
        arm64 = std::make_unique<crash_test::MachOTestLoader>(
            crash_test::readBytes(crash_test::imagesDir() / "arm64_unwind.dylib"), "arm64_unwind.dylib");
        x86 = std::make_unique<crash_test::MachOTestLoader>(
            crash_test::readBytes(crash_test::imagesDir() / "x86_64_chain.dylib"), "x86_64_chain.dylib");
        arm64->announce(&list);
        x86->announce(&list);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Images* images = new Images();
    crash_fuzz::Input input(data, size);
    const uint8_t flags = input.take<uint8_t>();
    crash_fuzz::Guarded stack(input.rest(), input.restSize() & ~size_t(7));
    const uint64_t span = input.restSize() & ~size_t(7);

    tlcrash_async_thread_state state;
    if (flags & 1) {
        tlcrash_arm_mcontext64 context{};
        tlcrash_async_thread_state_from_mcontext(&state, &context);
    } else {
        ucontext_t uc;
        std::memset(&uc, 0, sizeof uc);
        tlcrash_async_thread_state_from_ucontext(&state, &uc);
    }
    crash_test::MachOTestLoader& image = (flags & 1) ? *images->arm64 : *images->x86;
    const uint64_t pcs[] = {image.base() + 0x4000 + (flags >> 2) * 4, image.base() + 0x300 + (flags >> 2),
                            stack.address(), 0};
    tlcrash_async_thread_state_set_reg(&state, 0, pcs[(flags >> 1) & 3]);
    tlcrash_async_thread_state_set_reg(&state, 1, stack.address() + (span ? (flags * 8) % span : 0));
    tlcrash_async_thread_state_set_reg(&state, 2, stack.address());

    tlcrash_async_stack_cursor cursor;
    tlcrash_async_stack_cursor_init(&cursor, tlcrash_async_task_self(), &state, &images->list);
    for (int frame = 0; frame < 512; ++frame) {
        if (tlcrash_async_stack_cursor_next(&cursor) != TLCRASH_UNWIND_ESUCCESS)
            break;
    }
    tlcrash_async_stack_cursor_free(&cursor);
    return 0;
}
