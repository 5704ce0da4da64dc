#include "analytics/crash/AsyncObjc.h"

#include "analytics/crash/AsyncCompactUnwind.h"

#include <sys/mman.h>

namespace {

constexpr uint32_t kRealized = 1u << 31;
constexpr uint32_t kCopiedReadOnly = 1u << 27;
constexpr uint32_t kLegacySingleMethodList = 0x4000;
constexpr uint64_t kCacheSlots = 1024;
// Bounds on what a damaged image can make the walk read.
constexpr uint32_t kMaxLegacyMethodLists = 4096;
constexpr uint32_t kMaxLegacyMethods = 65536;

struct Walk {
    const tlcrash_async_macho_image* image;
    tlcrash_async_objc_cache* cache;
    tlcrash_async_objc_found_method_cb callback;
    void* context;
    uint64_t pointerSize;
};

uint32_t swap32(const Walk& w, uint32_t v) { return w.image->byteorder->swap32(v); }
uint16_t swap16(const Walk& w, uint16_t v) { return w.image->byteorder->swap16(v); }

uint64_t pointerAt(const Walk& w, const uint8_t* bytes) {
    if (w.pointerSize == 8) {
        uint64_t v;
        tlcrash_async_memcpy(&v, bytes, 8);
        return w.image->byteorder->swap64(v);
    }
    uint32_t v;
    tlcrash_async_memcpy(&v, bytes, 4);
    return w.image->byteorder->swap32(v);
}

// Copies length bytes at address out of a mapped section; false when they are not inside it.
bool copyFromSection(const tlcrash_async_mobject* section, uint64_t address, void* out, uint64_t length) {
    const void* local = tlcrash_async_mobject_remap(section, address, 0, length);
    if (local == nullptr)
        return false;
    tlcrash_async_memcpy(out, local, length);
    return true;
}

bool copyFromTask(const Walk& w, uint64_t address, void* out, uint64_t length) {
    return tlcrash_async_task_memcpy(w.image->task, address, 0, out, length) == TLCRASH_ESUCCESS;
}

void report(const Walk& w, bool isMeta, tlcrash_async_task_string* className, uint64_t nameAddress, uint64_t imp) {
    tlcrash_async_task_string methodName;
    tlcrash_async_task_string_init(&methodName, w.image, nameAddress);
    w.callback(isMeta, className, &methodName, imp, w.context);
    tlcrash_async_task_string_free(&methodName);
}

// ---- legacy layout ----

tlcrash_error_t legacyMethodList(const Walk& w, uint64_t list, bool isMeta, tlcrash_async_task_string* className) {
    uint32_t head[2];
    if (!copyFromTask(w, list, head, sizeof head))
        return TLCRASH_EINVALID_DATA;
    const uint32_t count = swap32(w, head[1]);
    if (count > kMaxLegacyMethods)
        return TLCRASH_EINVALID_DATA;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t method[3];
        if (!copyFromTask(w, list + 8 + uint64_t(i) * 12, method, sizeof method))
            return TLCRASH_EINVALID_DATA;
        report(w, isMeta, className, swap32(w, method[0]), swap32(w, method[2]));
    }
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t legacyClass(const Walk& w, uint64_t address, bool isMeta, uint32_t* isa) {
    uint32_t cls[10];
    if (!copyFromTask(w, address, cls, sizeof cls))
        return TLCRASH_EINVALID_DATA;
    *isa = swap32(w, cls[0]);
    tlcrash_async_task_string className;
    tlcrash_async_task_string_init(&className, w.image, swap32(w, cls[2]));
    const uint32_t info = swap32(w, cls[4]);
    const uint32_t lists = swap32(w, cls[7]);
    tlcrash_error_t err = TLCRASH_ESUCCESS;
    if (lists != 0 && (info & kLegacySingleMethodList)) {
        err = legacyMethodList(w, lists, isMeta, &className);
    } else if (lists != 0) {
        for (uint32_t i = 0; i < kMaxLegacyMethodLists && err == TLCRASH_ESUCCESS; ++i) {
            uint32_t list = 0;
            if (!copyFromTask(w, lists + uint64_t(i) * 4, &list, 4)) {
                err = TLCRASH_EINVALID_DATA;
                break;
            }
            list = swap32(w, list);
            if (list == 0 || list == 0xFFFFFFFF)
                break;
            err = legacyMethodList(w, list, isMeta, &className);
        }
    }
    tlcrash_async_task_string_free(&className);
    return err;
}

tlcrash_error_t walkLegacy(const Walk& w) {
    tlcrash_async_mobject modules;
    tlcrash_error_t err = tlcrash_async_macho_image_map_section(w.image, "__OBJC", "__module_info", &modules);
    if (err != TLCRASH_ESUCCESS)
        return err;
    const uint64_t base = tlcrash_async_mobject_base_address(&modules);
    const uint64_t count = tlcrash_async_mobject_length(&modules) / 16;
    for (uint64_t m = 0; m < count && err == TLCRASH_ESUCCESS; ++m) {
        uint32_t module[4];
        if (!copyFromSection(&modules, base + m * 16, module, sizeof module)) {
            err = TLCRASH_EINVALID_DATA;
            break;
        }
        const uint32_t symtab = swap32(w, module[3]);
        if (symtab == 0)
            continue;
        uint32_t head[3];
        if (!copyFromTask(w, symtab, head, sizeof head)) {
            err = TLCRASH_EINVALID_DATA;
            break;
        }
        uint16_t classCount;
        tlcrash_async_memcpy(&classCount, reinterpret_cast<uint8_t*>(head) + 8, 2);
        classCount = swap16(w, classCount);
        for (uint32_t c = 0; c < classCount && err == TLCRASH_ESUCCESS; ++c) {
            uint32_t cls = 0;
            if (!copyFromTask(w, symtab + 12 + uint64_t(c) * 4, &cls, 4)) {
                err = TLCRASH_EINVALID_DATA;
                break;
            }
            uint32_t isa = 0, ignored = 0;
            err = legacyClass(w, swap32(w, cls), false, &isa);
            if (err == TLCRASH_ESUCCESS)
                err = legacyClass(w, isa, true, &ignored);
        }
    }
    tlcrash_async_mobject_free(&modules);
    return err;
}

// ---- modern layout ----

void releaseSections(tlcrash_async_objc_cache* cache) {
    if (cache->objc_const_mapped)
        tlcrash_async_mobject_free(&cache->objc_const);
    if (cache->class_mapped)
        tlcrash_async_mobject_free(&cache->class_list);
    if (cache->category_mapped)
        tlcrash_async_mobject_free(&cache->category_list);
    if (cache->objc_data_mapped)
        tlcrash_async_mobject_free(&cache->objc_data);
    cache->objc_const_mapped = cache->class_mapped = cache->category_mapped = cache->objc_data_mapped = 0;
    cache->last_image = nullptr;
}

// A missing class or category list is an empty one; the two data sections are required.
tlcrash_error_t mapSections(const Walk& w) {
    tlcrash_async_objc_cache* cache = w.cache;
    if (cache->last_image == w.image)
        return TLCRASH_ESUCCESS;
    releaseSections(cache);
    cache->last_image = w.image;
    struct {
        const char* name;
        uint8_t* mapped;
        tlcrash_async_mobject* section;
        bool optional;
    } wanted[] = {{"__objc_const", &cache->objc_const_mapped, &cache->objc_const, false},
                  {"__objc_classlist", &cache->class_mapped, &cache->class_list, true},
                  {"__objc_catlist", &cache->category_mapped, &cache->category_list, true},
                  {"__objc_data", &cache->objc_data_mapped, &cache->objc_data, false}};
    for (auto& s : wanted) {
        tlcrash_error_t err = tlcrash_async_macho_image_map_section(w.image, "__DATA", s.name, s.section);
        if (err == TLCRASH_ESUCCESS) {
            *s.mapped = 1;
        } else if (!(s.optional && err == TLCRASH_ENOTFOUND)) {
            releaseSections(cache);
            return err;
        }
    }
    return TLCRASH_ESUCCESS;
}

void cacheInsert(tlcrash_async_objc_cache* cache, uint64_t key, uint64_t value) {
    if (cache->class_cache_size == 0) {
        void* memory = mmap(nullptr, kCacheSlots * 16, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
            return;
        cache->class_keys = static_cast<uint64_t*>(memory);
        cache->class_values = cache->class_keys + kCacheSlots;
        cache->class_cache_size = kCacheSlots;
    }
    const uint64_t slot = (key >> 2) % cache->class_cache_size;
    if (cache->class_keys[slot] == 0) {
        cache->class_keys[slot] = key;
        cache->class_values[slot] = value;
    }
}

struct ReadOnlyData {
    uint64_t name;
    uint64_t baseMethods;
};

bool copyReadOnly(const Walk& w, uint64_t address, bool fromConst, ReadOnlyData* out) {
    uint8_t bytes[72];
    const uint64_t size = w.pointerSize == 8 ? 72 : 40;
    const bool ok = fromConst ? copyFromSection(&w.cache->objc_const, address, bytes, size)
                              : copyFromTask(w, address, bytes, size);
    if (!ok)
        return false;
    out->name = pointerAt(w, bytes + (w.pointerSize == 8 ? 24 : 16));
    out->baseMethods = pointerAt(w, bytes + (w.pointerSize == 8 ? 32 : 20));
    return true;
}

bool insideSection(const tlcrash_async_mobject* section, bool mapped, uint64_t address) {
    return mapped && tlcrash_async_mobject_remap(section, address, 0, 1) != nullptr;
}

// 8 for a class the runtime has not realized.
tlcrash_error_t classReadOnly(const Walk& w, uint64_t dataField, ReadOnlyData* out) {
    tlcrash_async_objc_cache* cache = w.cache;
    const uint64_t data = dataField & ~uint64_t(3);
    if (cache->class_cache_size != 0) {
        const uint64_t slot = (data >> 2) % cache->class_cache_size;
        if (cache->class_keys[slot] == data && cache->class_values[slot] != 0) {
            const uint64_t ro = cache->class_values[slot];
            const bool inConst = insideSection(&cache->objc_const, cache->objc_const_mapped, ro);
            return copyReadOnly(w, ro, inConst, out) ? TLCRASH_ESUCCESS : TLCRASH_EINVALID_DATA;
        }
    }
    uint8_t head[16];
    if (!copyFromTask(w, data, head, 8 + w.pointerSize))
        return TLCRASH_EINVALID_DATA;
    uint32_t flags;
    tlcrash_async_memcpy(&flags, head, 4);
    flags = swap32(w, flags);
    if (!(flags & kRealized))
        return TLCRASH_ENOTFOUND;
    const uint64_t ro = pointerAt(w, head + 8);
    const bool inConst = insideSection(&cache->objc_const, cache->objc_const_mapped, ro);
    if (!(flags & kCopiedReadOnly) && tlcrash_async_macho_image_contains_address(w.image, ro) && !inConst)
        return TLCRASH_EINVALID_DATA;
    if (!copyReadOnly(w, ro, !(flags & kCopiedReadOnly) && inConst, out))
        return TLCRASH_EINVALID_DATA;
    cacheInsert(cache, data, ro);
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t methodList(const Walk& w, uint64_t list, bool isMeta, tlcrash_async_task_string* className) {
    uint32_t head[2];
    if (!copyFromSection(&w.cache->objc_const, list, head, sizeof head))
        return TLCRASH_EINVALID_DATA;
    const uint64_t entrySize = swap32(w, head[0]) & ~uint32_t(3);
    const uint64_t count = swap32(w, head[1]);
    if (count == 0)
        return TLCRASH_ESUCCESS;
    if (entrySize < 3 * w.pointerSize)
        return TLCRASH_EINVALID_DATA;
    const uint8_t* entries =
        static_cast<const uint8_t*>(tlcrash_async_mobject_remap(&w.cache->objc_const, list + 8, 0, count * entrySize));
    if (entries == nullptr)
        return TLCRASH_EINVALID_DATA;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* entry = entries + i * entrySize;
        report(w, isMeta, className, pointerAt(w, entry), pointerAt(w, entry + 2 * w.pointerSize));
    }
    return TLCRASH_ESUCCESS;
}

// Reports the base methods of the class whose data field is given.
tlcrash_error_t classMethods(const Walk& w, uint64_t dataField, bool isMeta) {
    ReadOnlyData ro;
    tlcrash_error_t err = classReadOnly(w, dataField, &ro);
    if (err != TLCRASH_ESUCCESS)
        return err;
    if (ro.baseMethods == 0)
        return TLCRASH_ESUCCESS;
    tlcrash_async_task_string className;
    tlcrash_async_task_string_init(&className, w.image, ro.name);
    err = methodList(w, ro.baseMethods, isMeta, &className);
    tlcrash_async_task_string_free(&className);
    return err;
}

// isa, superclass, cache, vtable, data.
bool readClass(const Walk& w, uint64_t address, bool fromDataOnly, uint64_t* isa, uint64_t* data) {
    uint8_t cls[40];
    const uint64_t size = 5 * w.pointerSize;
    bool ok = copyFromSection(&w.cache->objc_data, address, cls, size);
    if (!ok && !fromDataOnly)
        ok = copyFromTask(w, address, cls, size);
    if (!ok)
        return false;
    *isa = pointerAt(w, cls);
    *data = pointerAt(w, cls + 4 * w.pointerSize);
    return true;
}

tlcrash_error_t walkModern(const Walk& w, bool* anyRead) {
    tlcrash_async_objc_cache* cache = w.cache;
    tlcrash_error_t result = TLCRASH_ENOTFOUND;
    const uint64_t P = w.pointerSize;

    if (cache->class_mapped) {
        const uint64_t base = tlcrash_async_mobject_base_address(&cache->class_list);
        const uint64_t count = tlcrash_async_mobject_length(&cache->class_list) / P;
        for (uint64_t i = 0; i < count; ++i) {
            uint8_t raw[8];
            if (!copyFromSection(&cache->class_list, base + i * P, raw, P))
                return TLCRASH_EINVALID_DATA;
            uint64_t isa = 0, data = 0;
            if (!readClass(w, pointerAt(w, raw), true, &isa, &data))
                return TLCRASH_EINVALID_DATA;
            result = classMethods(w, data, false);
            if (result == TLCRASH_ENOTFOUND)
                continue;
            if (result != TLCRASH_ESUCCESS)
                return result;
            if (tlcrash_async_macho_image_cpu_type(w.image) == TLCRASH_CPU_TYPE_ARM64 && (isa & 1))
                isa &= tlcrash_async_objc_isa_class_mask;
            uint64_t metaIsa = 0, metaData = 0;
            if (!readClass(w, isa, true, &metaIsa, &metaData))
                return TLCRASH_EINVALID_DATA;
            result = classMethods(w, metaData, true);
            if (result != TLCRASH_ESUCCESS)
                return result;
            *anyRead = true;
        }
    }

    if (cache->category_mapped) {
        const uint64_t base = tlcrash_async_mobject_base_address(&cache->category_list);
        const uint64_t count = tlcrash_async_mobject_length(&cache->category_list) / P;
        for (uint64_t i = 0; i < count; ++i) {
            uint8_t raw[8];
            if (!copyFromSection(&cache->category_list, base + i * P, raw, P))
                return TLCRASH_EINVALID_DATA;
            uint8_t category[48];
            if (!copyFromSection(&cache->objc_const, pointerAt(w, raw), category, 6 * P))
                return TLCRASH_EINVALID_DATA;
            uint64_t isa = 0, data = 0;
            if (!readClass(w, pointerAt(w, category + P), false, &isa, &data))
                return TLCRASH_EINVALID_DATA;
            ReadOnlyData ro;
            result = classReadOnly(w, data, &ro);
            if (result == TLCRASH_ENOTFOUND)
                continue;
            if (result != TLCRASH_ESUCCESS)
                return result;
            tlcrash_async_task_string className;
            tlcrash_async_task_string_init(&className, w.image, ro.name);
            const uint64_t instanceMethods = pointerAt(w, category + 2 * P);
            const uint64_t classMethodsList = pointerAt(w, category + 3 * P);
            if (instanceMethods != 0)
                result = methodList(w, instanceMethods, false, &className);
            if (result == TLCRASH_ESUCCESS && classMethodsList != 0)
                result = methodList(w, classMethodsList, true, &className);
            tlcrash_async_task_string_free(&className);
            if (result != TLCRASH_ESUCCESS)
                return result;
            *anyRead = true;
        }
    }
    return result;
}

}  // namespace

tlcrash_error_t tlcrash_async_objc_cache_init(tlcrash_async_objc_cache* cache) {
    tlcrash_async_memset(cache, 0, sizeof *cache);
    return TLCRASH_ESUCCESS;
}

void tlcrash_async_objc_cache_free(tlcrash_async_objc_cache* cache) {
    releaseSections(cache);
    if (cache->class_cache_size != 0)
        munmap(cache->class_keys, cache->class_cache_size * 16);
    cache->class_cache_size = 0;
    cache->class_keys = cache->class_values = nullptr;
}

tlcrash_error_t tlcrash_async_objc_walk(const tlcrash_async_macho_image* image, tlcrash_async_objc_cache* cache,
                                        tlcrash_async_objc_found_method_cb callback, void* context) {
    if (cache == nullptr)
        return TLCRASH_EACCESS;
    const Walk w{image, cache, callback, context, image->m64 ? 8u : 4u};
    if (!cache->got_modern) {
        tlcrash_error_t err = walkLegacy(w);
        if (err != TLCRASH_ENOTFOUND)
            return err;
    }
    tlcrash_error_t err = mapSections(w);
    if (err != TLCRASH_ESUCCESS)
        return err;
    // Any class or category read makes the walk a success, whatever the last one was.
    bool anyRead = false;
    err = walkModern(w, &anyRead);
    if (err == TLCRASH_ENOTFOUND && anyRead)
        err = TLCRASH_ESUCCESS;
    if (err == TLCRASH_ESUCCESS)
        cache->got_modern = 1;
    return err;
}

namespace {

struct Closest {
    uint64_t pc;
    bool found;
    uint64_t imp;
};

void keepClosest(bool, tlcrash_async_task_string*, tlcrash_async_task_string*, uint64_t imp, void* context) {
    auto* closest = static_cast<Closest*>(context);
    if (imp <= closest->pc && (!closest->found || imp > closest->imp)) {
        closest->found = true;
        closest->imp = imp;
    }
}

struct Forward {
    uint64_t imp;
    bool done;
    tlcrash_async_objc_found_method_cb callback;
    void* context;
};

void forwardFirst(bool isMeta, tlcrash_async_task_string* className, tlcrash_async_task_string* methodName,
                  uint64_t imp, void* context) {
    auto* forward = static_cast<Forward*>(context);
    if (forward->done || imp != forward->imp)
        return;
    forward->done = true;
    forward->callback(isMeta, className, methodName, imp, forward->context);
}

}  // namespace

tlcrash_error_t tlcrash_async_objc_find_method(const tlcrash_async_macho_image* image, tlcrash_async_objc_cache* cache,
                                               uint64_t pc, tlcrash_async_objc_found_method_cb callback,
                                               void* context) {
    Closest closest{pc, false, 0};
    tlcrash_error_t err = tlcrash_async_objc_walk(image, cache, keepClosest, &closest);
    if (err != TLCRASH_ESUCCESS)
        return err;
    if (!closest.found)
        return TLCRASH_ENOTFOUND;
    Forward forward{closest.imp, false, callback, context};
    return tlcrash_async_objc_walk(image, cache, forwardFirst, &forward);
}
