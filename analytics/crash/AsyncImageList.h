#pragma once
// The images of the process, shared by the unwinders and the report writer.
#include "analytics/crash/AsyncElfImage.h"
#include "analytics/crash/AsyncList.h"
#include "analytics/crash/AsyncMachoImage.h"

// Mach-O images (announced by whoever loads them) and the process's own ELF objects. A reader
// raises the count of both lists at once.
struct tlcrash_async_image_list {
    tlcrash_task_t task;
    AsyncSafeList<tlcrash_async_macho_image*>* list;
    AsyncSafeList<tlcrash_async_elf_image*>* elf_list;
};

using tlcrash_async_image_node = AsyncSafeList<tlcrash_async_macho_image*>::Node;
using tlcrash_async_elf_image_node = AsyncSafeList<tlcrash_async_elf_image*>::Node;

void tlcrash_async_image_list_init(tlcrash_async_image_list* images, tlcrash_task_t task);
void tlcrash_async_image_list_free(tlcrash_async_image_list* images);
// The list does not own the records: the caller frees a removed one once no reader is left.
void tlcrash_async_image_list_append(tlcrash_async_image_list* images, tlcrash_async_macho_image* image);
bool tlcrash_async_image_list_remove(tlcrash_async_image_list* images, uint64_t header_addr);
void tlcrash_async_image_list_set_reading(tlcrash_async_image_list* images, bool enable);
// Walks in list order: pass null for the first node; the caller holds the reading count.
tlcrash_async_image_node* tlcrash_async_image_list_next(tlcrash_async_image_list* images,
                                                        tlcrash_async_image_node* current);
tlcrash_async_macho_image* tlcrash_async_image_containing_address(tlcrash_async_image_list* images,
                                                                  uint64_t address);

void tlcrash_async_image_list_append_elf(tlcrash_async_image_list* images, tlcrash_async_elf_image* image);
bool tlcrash_async_image_list_remove_elf(tlcrash_async_image_list* images, const tlcrash_async_elf_image* image);
tlcrash_async_elf_image_node* tlcrash_async_image_list_next_elf(tlcrash_async_image_list* images,
                                                                tlcrash_async_elf_image_node* current);
tlcrash_async_elf_image* tlcrash_async_elf_image_containing_address(tlcrash_async_image_list* images,
                                                                    uint64_t address);
