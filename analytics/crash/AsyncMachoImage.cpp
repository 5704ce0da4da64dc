#include "analytics/crash/AsyncMachoImage.h"

namespace {

struct CommandHead {
    uint32_t cmd;
    uint32_t cmdsize;
};

}  // namespace

void* tlcrash_async_macho_image_next_command(const tlcrash_async_macho_image* image, void* previous) {
    const tlcrash_async_mobject* cmds = &image->load_cmds;
    const uint64_t start = cmds->address;
    const uint64_t end = start + cmds->length;
    if (previous == nullptr) {
        if (cmds->length < sizeof(CommandHead))
            return nullptr;
        return reinterpret_cast<void*>(static_cast<uintptr_t>(start));
    }
    const auto current = reinterpret_cast<uintptr_t>(previous);
    if (!tlcrash_async_mobject_verify(cmds, current, 0, sizeof(CommandHead)))
        return nullptr;
    CommandHead head;
    tlcrash_async_memcpy(&head, previous, sizeof head);
    const uint32_t size = image->byteorder->swap32(head.cmdsize);
    if (size < sizeof(CommandHead))
        return nullptr;
    uint64_t next;
    if (__builtin_add_overflow(static_cast<uint64_t>(current), size, &next) || next >= end)
        return nullptr;
    if (!tlcrash_async_mobject_verify(cmds, static_cast<uintptr_t>(next), 0, sizeof(CommandHead)))
        return nullptr;
    CommandHead nextHead;
    tlcrash_async_memcpy(&nextHead, reinterpret_cast<void*>(static_cast<uintptr_t>(next)), sizeof nextHead);
    if (!tlcrash_async_mobject_verify(cmds, static_cast<uintptr_t>(next), 0, image->byteorder->swap32(nextHead.cmdsize)))
        return nullptr;
    return reinterpret_cast<void*>(static_cast<uintptr_t>(next));
}

void* tlcrash_async_macho_image_find_command(const tlcrash_async_macho_image* image, uint32_t command_type) {
    for (void* cmd = tlcrash_async_macho_image_next_command(image, nullptr); cmd != nullptr;
         cmd = tlcrash_async_macho_image_next_command(image, cmd)) {
        CommandHead head;
        tlcrash_async_memcpy(&head, cmd, sizeof head);
        if (image->byteorder->swap32(head.cmd) == command_type)
            return cmd;
    }
    return nullptr;
}
