#include "analytics/crash/AsyncImageList.h"

void tlcrash_async_image_list_init(tlcrash_async_image_list* images, tlcrash_task_t task) {
    images->task = task;
    images->list = new AsyncSafeList<tlcrash_async_macho_image*>();
    images->elf_list = new AsyncSafeList<tlcrash_async_elf_image*>();
}

void tlcrash_async_image_list_free(tlcrash_async_image_list* images) {
    delete images->list;
    delete images->elf_list;
    images->list = nullptr;
    images->elf_list = nullptr;
}

void tlcrash_async_image_list_append(tlcrash_async_image_list* images, tlcrash_async_macho_image* image) {
    images->list->append(image);
}

bool tlcrash_async_image_list_remove(tlcrash_async_image_list* images, uint64_t header_addr) {
    return images->list->removeFirst(
        [header_addr](tlcrash_async_macho_image* image) { return image->header_addr == header_addr; });
}

void tlcrash_async_image_list_set_reading(tlcrash_async_image_list* images, bool enable) {
    images->list->setReading(enable);
    images->elf_list->setReading(enable);
}

tlcrash_async_image_node* tlcrash_async_image_list_next(tlcrash_async_image_list* images,
                                                        tlcrash_async_image_node* current) {
    return current == nullptr ? images->list->head() : current->next.load();
}

namespace {

// The first image of the list that holds the address.
template <typename Image>
Image* containing(AsyncSafeList<Image*>* list, uint64_t address, bool (*contains)(const Image*, uint64_t)) {
    for (auto* node = list->head(); node != nullptr; node = node->next.load()) {
        if (contains(node->value, address))
            return node->value;
    }
    return nullptr;
}

}  // namespace

tlcrash_async_macho_image* tlcrash_async_image_containing_address(tlcrash_async_image_list* images,
                                                                  uint64_t address) {
    return containing(images->list, address, tlcrash_async_macho_image_contains_address);
}

void tlcrash_async_image_list_append_elf(tlcrash_async_image_list* images, tlcrash_async_elf_image* image) {
    images->elf_list->append(image);
}

bool tlcrash_async_image_list_remove_elf(tlcrash_async_image_list* images, const tlcrash_async_elf_image* image) {
    return images->elf_list->removeFirst([image](tlcrash_async_elf_image* listed) { return listed == image; });
}

tlcrash_async_elf_image_node* tlcrash_async_image_list_next_elf(tlcrash_async_image_list* images,
                                                                tlcrash_async_elf_image_node* current) {
    return current == nullptr ? images->elf_list->head() : current->next.load();
}

tlcrash_async_elf_image* tlcrash_async_elf_image_containing_address(tlcrash_async_image_list* images,
                                                                    uint64_t address) {
    return containing(images->elf_list, address, +[](const tlcrash_async_elf_image* image, uint64_t at) {
        return tlcrash_async_elf_image_contains_address(image, at) && tlcrash_async_elf_image_is_current(image);
    });
}
