#pragma once
// Stands in for the dynamic loader in tests: maps a Mach-O image's segments at a base of its
// own (so the slide is never zero), applies the rebase opcodes of LC_DYLD_INFO_ONLY (binds stay
// 0), maps x86-64 text executable when asked, and announces the image to an image list.
#include "analytics/crash/AsyncImageList.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace crash_test {

std::vector<uint8_t> readBytes(std::filesystem::path const& path);
// Where the build puts the images made from tests/images.
std::filesystem::path imagesDir();

class MachOTestLoader {
public:
    // low: below 4 GiB (32-bit images always are), so pointers fit in 32 bits and isa masks.
    MachOTestLoader(std::vector<uint8_t> const& file, std::string path, bool executable = false, bool low = false);
    ~MachOTestLoader();
    MachOTestLoader(MachOTestLoader const&) = delete;
    MachOTestLoader& operator=(MachOTestLoader const&) = delete;

    uint64_t base() const { return base_; }
    uint64_t slide() const { return slide_; }
    uint64_t address(uint64_t vmaddr) const { return vmaddr + slide_; }
    // The value of a symbol in the file, slid.
    uint64_t symbol(std::string const& name) const;
    template <typename T>
    T* at(uint64_t vmaddr) const { return reinterpret_cast<T*>(address(vmaddr)); }

    tlcrash_async_macho_image* image() { return &image_; }

    void announce(tlcrash_async_image_list* list);
    void withdraw();

private:
    std::vector<uint8_t> file_;
    std::string path_;
    void* mapping_ = nullptr;
    uint64_t mappingSize_ = 0;
    uint64_t base_ = 0;
    uint64_t slide_ = 0;
    bool swapped_ = false;
    bool is64_ = false;
    tlcrash_async_macho_image image_{};
    tlcrash_async_image_list* list_ = nullptr;
};

}  // namespace crash_test
