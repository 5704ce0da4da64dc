#include "analytics/crash/tests/support/MachOTestLoader.h"

#include "analytics/crash/AsyncMachoReader.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/mman.h>

namespace crash_test {

std::vector<uint8_t> readBytes(std::filesystem::path const& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path.string());
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::filesystem::path imagesDir() { return ZELV_CRASH_IMAGES_DIR; }

namespace {

struct FileReader {
    std::vector<uint8_t> const& bytes;
    bool swapped;

    template <typename T>
    T get(uint64_t offset) const {
        if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
            throw std::runtime_error("Mach-O file too short");
        T v;
        std::memcpy(&v, bytes.data() + offset, sizeof v);
        if (swapped) {
            if constexpr (sizeof(T) == 2)
                v = T(__builtin_bswap16(uint16_t(v)));
            else if constexpr (sizeof(T) == 4)
                v = T(__builtin_bswap32(uint32_t(v)));
            else if constexpr (sizeof(T) == 8)
                v = T(__builtin_bswap64(uint64_t(v)));
        }
        return v;
    }
};

struct SegmentInfo {
    std::string name;
    uint64_t vmaddr, vmsize, fileoff, filesize;
};

uint64_t readUleb(std::vector<uint8_t> const& bytes, uint64_t& offset) {
    uint64_t value = 0;
    for (unsigned shift = 0; offset < bytes.size(); shift += 7) {
        uint8_t byte = bytes[offset++];
        value |= uint64_t(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return value;
    }
    throw std::runtime_error("rebase opcodes run off the end");
}

}  // namespace

MachOTestLoader::MachOTestLoader(std::vector<uint8_t> const& file, std::string path, bool executable, bool low)
    : file_(file), path_(std::move(path)) {
    uint32_t magic;
    if (file.size() < 32)
        throw std::runtime_error("not a Mach-O file");
    std::memcpy(&magic, file.data(), 4);
    swapped_ = magic == 0xCEFAEDFE || magic == 0xCFFAEDFE;
    is64_ = magic == 0xFEEDFACF || magic == 0xCFFAEDFE;
    if (!swapped_ && !is64_ && magic != 0xFEEDFACE)
        throw std::runtime_error("not a Mach-O file");
    FileReader r{file_, swapped_};

    std::vector<SegmentInfo> segments;
    uint32_t rebaseOff = 0, rebaseSize = 0;
    const uint32_t ncmds = r.get<uint32_t>(16);
    uint64_t cursor = is64_ ? 32 : 28;
    for (uint32_t i = 0; i < ncmds; ++i) {
        const uint32_t cmd = r.get<uint32_t>(cursor), size = r.get<uint32_t>(cursor + 4);
        if (cmd == (is64_ ? 0x19u : 0x1u)) {
            char name[17] = {};
            std::memcpy(name, file_.data() + cursor + 8, 16);
            if (is64_)
                segments.push_back({name, r.get<uint64_t>(cursor + 24), r.get<uint64_t>(cursor + 32),
                                    r.get<uint64_t>(cursor + 40), r.get<uint64_t>(cursor + 48)});
            else
                segments.push_back({name, r.get<uint32_t>(cursor + 24), r.get<uint32_t>(cursor + 28),
                                    r.get<uint32_t>(cursor + 32), r.get<uint32_t>(cursor + 36)});
        } else if (cmd == 0x80000022 || cmd == 0x22) {
            rebaseOff = r.get<uint32_t>(cursor + 8);
            rebaseSize = r.get<uint32_t>(cursor + 12);
        }
        if (size < 8)
            throw std::runtime_error("bad load command");
        cursor += size;
    }
    uint64_t lowest = UINT64_MAX, high = 0, textAddress = 0;
    for (SegmentInfo const& s : segments) {
        lowest = std::min(lowest, s.vmaddr);
        high = std::max(high, s.vmaddr + s.vmsize);
        if (s.name == "__TEXT")
            textAddress = s.vmaddr;
    }
    if (segments.empty())
        throw std::runtime_error("no segments");

    // 32-bit images hold 32-bit pointers, so they must live below 4 GiB.
    mappingSize_ = (high - lowest + 0xFFF) & ~uint64_t(0xFFF);
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_32BIT
    if (!is64_ || low)
        flags |= MAP_32BIT;
#endif
    mapping_ = mmap(nullptr, mappingSize_, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (mapping_ == MAP_FAILED)
        throw std::runtime_error("cannot map the image");
    const uint64_t local = reinterpret_cast<uint64_t>(mapping_);
    slide_ = local - lowest;
    base_ = textAddress + slide_;
    for (SegmentInfo const& s : segments) {
        const uint64_t count = std::min(s.filesize, s.vmsize);
        if (s.fileoff > file_.size() || file_.size() - s.fileoff < count)
            throw std::runtime_error("segment past the end of the file");
        std::memcpy(reinterpret_cast<void*>(s.vmaddr + slide_), file_.data() + s.fileoff, count);
    }

    // Rebase opcodes: pointers in the image move by the slide.
    if (rebaseSize != 0) {
        const uint64_t pointer = is64_ ? 8 : 4;
        uint64_t op = rebaseOff, end = uint64_t(rebaseOff) + rebaseSize, address = 0;
        auto rebaseAt = [&](uint64_t vmaddr) {
            void* where = reinterpret_cast<void*>(vmaddr + slide_);
            if (is64_) {
                uint64_t v;
                std::memcpy(&v, where, 8);
                v = swapped_ ? __builtin_bswap64(__builtin_bswap64(v) + slide_) : v + slide_;
                std::memcpy(where, &v, 8);
            } else {
                uint32_t v;
                std::memcpy(&v, where, 4);
                v = swapped_ ? __builtin_bswap32(uint32_t(__builtin_bswap32(v) + slide_)) : uint32_t(v + slide_);
                std::memcpy(where, &v, 4);
            }
        };
        while (op < end) {
            const uint8_t byte = file_.at(op++);
            const uint8_t imm = byte & 0x0F;
            switch (byte & 0xF0) {
            case 0x00:
                op = end;
                break;
            case 0x10:
                break;
            case 0x20:
                if (imm >= segments.size())
                    throw std::runtime_error("rebase names a missing segment");
                address = segments[imm].vmaddr + readUleb(file_, op);
                break;
            case 0x30:
                address += readUleb(file_, op);
                break;
            case 0x40:
                address += imm * pointer;
                break;
            case 0x50:
                for (uint8_t i = 0; i < imm; ++i, address += pointer)
                    rebaseAt(address);
                break;
            case 0x60: {
                const uint64_t n = readUleb(file_, op);
                for (uint64_t i = 0; i < n; ++i, address += pointer)
                    rebaseAt(address);
                break;
            }
            case 0x70:
                rebaseAt(address);
                address += readUleb(file_, op) + pointer;
                break;
            case 0x80: {
                const uint64_t n = readUleb(file_, op), skip = readUleb(file_, op);
                for (uint64_t i = 0; i < n; ++i, address += skip + pointer)
                    rebaseAt(address);
                break;
            }
            default:
                throw std::runtime_error("unknown rebase opcode");
            }
        }
    }

    if (executable) {
        for (SegmentInfo const& s : segments) {
            if (s.name == "__TEXT" &&
                mprotect(reinterpret_cast<void*>(s.vmaddr + slide_), (s.vmsize + 0xFFF) & ~uint64_t(0xFFF),
                         PROT_READ | PROT_EXEC) != 0)
                throw std::runtime_error("cannot make the text executable");
        }
    }

    if (tlcrash_async_macho_image_init(&image_, tlcrash_async_task_self(), path_.c_str(), base_) != TLCRASH_ESUCCESS)
        throw std::runtime_error("the image reader refused " + path_);
}

MachOTestLoader::~MachOTestLoader() {
    withdraw();
    tlcrash_async_macho_image_free(&image_);
    if (mapping_ != nullptr && mapping_ != MAP_FAILED)
        munmap(mapping_, mappingSize_);
}

uint64_t MachOTestLoader::symbol(std::string const& name) const {
    FileReader r{file_, swapped_};
    const uint32_t ncmds = r.get<uint32_t>(16);
    uint64_t cursor = is64_ ? 32 : 28;
    for (uint32_t i = 0; i < ncmds; ++i) {
        const uint32_t cmd = r.get<uint32_t>(cursor), size = r.get<uint32_t>(cursor + 4);
        if (cmd == 0x2) {
            const uint32_t symoff = r.get<uint32_t>(cursor + 8), nsyms = r.get<uint32_t>(cursor + 12);
            const uint32_t stroff = r.get<uint32_t>(cursor + 16);
            for (uint32_t n = 0; n < nsyms; ++n) {
                const uint64_t entry = symoff + uint64_t(n) * (is64_ ? 16 : 12);
                const char* text = reinterpret_cast<const char*>(file_.data() + stroff + r.get<uint32_t>(entry));
                if (name == text)
                    return (is64_ ? r.get<uint64_t>(entry + 8) : r.get<uint32_t>(entry + 8)) + slide_;
            }
        }
        cursor += size;
    }
    throw std::runtime_error("no symbol " + name);
}

void MachOTestLoader::announce(tlcrash_async_image_list* list) {
    withdraw();
    list_ = list;
    tlcrash_async_image_list_append(list, &image_);
}

void MachOTestLoader::withdraw() {
    if (list_ != nullptr)
        tlcrash_async_image_list_remove(list_, image_.header_addr);
    list_ = nullptr;
}

}  // namespace crash_test
