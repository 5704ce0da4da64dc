#pragma once
// Naming frames from the runtime class metadata of an image: every class, metaclass and
// category method with its implementation address, in the legacy (__OBJC) and the modern
// (__DATA) layouts.
#include "analytics/crash/AsyncMachoReader.h"

struct tlcrash_async_objc_cache {
    uint8_t got_modern;
    const tlcrash_async_macho_image* last_image;
    uint8_t objc_const_mapped;
    tlcrash_async_mobject objc_const;
    uint8_t class_mapped;
    tlcrash_async_mobject class_list;
    uint8_t category_mapped;
    tlcrash_async_mobject category_list;
    uint8_t objc_data_mapped;
    tlcrash_async_mobject objc_data;
    uint64_t class_cache_size;
    uint64_t* class_keys;
    uint64_t* class_values;
};

using tlcrash_async_objc_found_method_cb = void (*)(bool is_meta, tlcrash_async_task_string* class_name,
                                                    tlcrash_async_task_string* method_name, uint64_t imp,
                                                    void* context);

// The mask that takes the class out of a non-pointer isa in 64-bit ARM images.
constexpr uint64_t tlcrash_async_objc_isa_class_mask = 0xFFFFFFFF8ULL;

tlcrash_error_t tlcrash_async_objc_cache_init(tlcrash_async_objc_cache* cache);
void tlcrash_async_objc_cache_free(tlcrash_async_objc_cache* cache);

// Calls back for every method of the image: 0; 7 without a cache; 8 when the image has no
// metadata (or no realized class); 9 for metadata that cannot be read.
tlcrash_error_t tlcrash_async_objc_walk(const tlcrash_async_macho_image* image, tlcrash_async_objc_cache* cache,
                                        tlcrash_async_objc_found_method_cb callback, void* context);
// The method whose implementation is the closest at or below pc: one callback and 0; 8 when none.
tlcrash_error_t tlcrash_async_objc_find_method(const tlcrash_async_macho_image* image, tlcrash_async_objc_cache* cache,
                                               uint64_t pc, tlcrash_async_objc_found_method_cb callback,
                                               void* context);
