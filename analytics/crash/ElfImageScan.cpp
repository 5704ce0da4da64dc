#include "analytics/crash/ElfImageScan.h"

#include "platform/base/AlternateSignalStack.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct Loaded {
    std::string name;
    uint64_t bias;
    std::vector<ElfW(Phdr)> phdrs;
};

// An object is found by where its program headers are and its load bias; another object
// loaded there later is told apart by its name and by its own bytes.
using Key = std::pair<uint64_t, uint64_t>;

struct Listed {
    tlcrash_async_elf_image* image;
    std::string name;  // as the loader gives it
};

struct Scan {
    std::mutex mutex;
    unsigned long long adds = ~0ull;
    unsigned long long subs = ~0ull;
    std::map<Key, Listed> listed;
    // Unlinked records wait here until no reader can still be on them.
    std::vector<tlcrash_async_elf_image*> retired;
};

Scan& scanFor(tlcrash_async_image_list* images) {
    // Never destroyed: the refresh thread runs on while static destructors run at exit.
    static auto* mutex = new std::mutex;
    static auto* scans = new std::map<tlcrash_async_image_list*, Scan>;
    std::lock_guard<std::mutex> lock(*mutex);
    return (*scans)[images];
}

struct Counts {
    unsigned long long adds;
    unsigned long long subs;
};

int readCounts(dl_phdr_info* info, size_t size, void* data) {
    auto* counts = static_cast<Counts*>(data);
    if (size < offsetof(dl_phdr_info, dlpi_subs) + sizeof info->dlpi_subs)
        return 1;
    counts->adds = info->dlpi_adds;
    counts->subs = info->dlpi_subs;
    return 1;  // the counts are the same in every entry
}

int collect(dl_phdr_info* info, size_t, void* data) {
    auto* loaded = static_cast<std::map<Key, Loaded>*>(data);
    Key key{reinterpret_cast<uintptr_t>(info->dlpi_phdr), info->dlpi_addr};
    (*loaded)[key] = Loaded{info->dlpi_name ? info->dlpi_name : "", info->dlpi_addr,
                            std::vector<ElfW(Phdr)>(info->dlpi_phdr, info->dlpi_phdr + info->dlpi_phnum)};
    return 0;
}

}  // namespace

size_t tlcrash_elf_images_refresh(tlcrash_async_image_list* images) {
    Scan& scan = scanFor(images);
    std::lock_guard<std::mutex> lock(scan.mutex);
    if (images->elf_list->readerCount() == 0) {
        for (auto* image : scan.retired) {
            tlcrash_async_elf_image_free(image);
            delete image;
        }
        scan.retired.clear();
    }
    Counts counts{~0ull, ~0ull};
    dl_iterate_phdr(readCounts, &counts);
    if (counts.adds == scan.adds && counts.subs == scan.subs && counts.adds != ~0ull)
        return scan.listed.size();

    // Gathered under the loader's lock; the records (which read files) are built after it.
    std::map<Key, Loaded> loaded;
    dl_iterate_phdr(collect, &loaded);
    for (auto it = scan.listed.begin(); it != scan.listed.end();) {
        auto now = loaded.find(it->first);
        if (now != loaded.end() && now->second.name == it->second.name &&
            tlcrash_async_elf_image_is_current(it->second.image)) {
            ++it;
            continue;
        }
        tlcrash_async_image_list_remove_elf(images, it->second.image);
        scan.retired.push_back(it->second.image);
        it = scan.listed.erase(it);
    }
    for (auto& [key, object] : loaded) {
        if (scan.listed.count(key) != 0)
            continue;
        auto* image = new tlcrash_async_elf_image;
        if (tlcrash_async_elf_image_init(image, images->task, object.name.c_str(), object.bias, object.phdrs.data(),
                                         object.phdrs.size()) != TLCRASH_ESUCCESS) {
            tlcrash_async_elf_image_free(image);
            delete image;
            continue;
        }
        tlcrash_async_image_list_append_elf(images, image);
        scan.listed[key] = Listed{image, object.name};
    }
    scan.adds = counts.adds;
    scan.subs = counts.subs;
    return scan.listed.size();
}

bool tlcrash_elf_images_watch(tlcrash_async_image_list* images, unsigned interval_ms) {
    tlcrash_elf_images_refresh(images);
    static std::once_flag started;
    try {
        std::call_once(started, [images, interval_ms] {
            std::thread([images, interval_ms] {
                platform::AlternateSignalStack::installForThisThread();
                for (;;) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms));
                    tlcrash_elf_images_refresh(images);
                }
            }).detach();
        });
    } catch (std::system_error const& e) {
        errno = e.code().value();
        return false;
    }
    return true;
}
