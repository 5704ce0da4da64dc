#include "analytics/crash/AsyncElfImage.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kBuildIdNote = 3;  // NT_GNU_BUILD_ID
// The only .eh_frame_hdr form the linkers write: a pc-relative pointer to .eh_frame, a 4-byte
// count and a table of 4-byte offsets from the header.
constexpr uint8_t kPcRelSdata4 = 0x1B;
constexpr uint8_t kUdata4 = 0x03;
constexpr uint8_t kDataRelSdata4 = 0x3B;
// More symbols than any object here has; a bigger count is a damaged file.
constexpr uint64_t kMaxSymbols = 1u << 24;
constexpr size_t kMaxNameLength = 512;

// Walks notes in a buffer for the GNU build-id; true with its bytes.
bool findBuildId(const uint8_t* notes, size_t size, const uint8_t** id, size_t* length) {
    size_t at = 0;
    while (at + sizeof(ElfW(Nhdr)) <= size) {
        ElfW(Nhdr) head;
        std::memcpy(&head, notes + at, sizeof head);
        const size_t nameAt = at + sizeof head;
        const size_t descAt = nameAt + ((head.n_namesz + 3) & ~3u);
        const size_t next = descAt + ((head.n_descsz + 3) & ~3u);
        if (descAt > size || next > size || next <= at)
            return false;
        if (head.n_type == kBuildIdNote && head.n_namesz == 4 && std::memcmp(notes + nameAt, "GNU", 4) == 0) {
            *id = notes + descAt;
            *length = head.n_descsz;
            return true;
        }
        at = next;
    }
    return false;
}

bool readAt(int fd, void* into, size_t length, uint64_t offset) {
    size_t done = 0;
    while (done < length) {
        const ssize_t got = pread(fd, static_cast<char*>(into) + done, length - done, static_cast<off_t>(offset + done));
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

// The file's build-id must be the loaded one's, or its symbols would name the wrong code.
bool sameBuild(const tlcrash_async_elf_image* image, int fd, const std::vector<ElfW(Shdr)>& sections) {
    if (!image->has_uuid)
        return true;
    for (const auto& section : sections) {
        if (section.sh_type != SHT_NOTE || section.sh_size == 0 || section.sh_size > 65536)
            continue;
        std::vector<uint8_t> notes(section.sh_size);
        if (!readAt(fd, notes.data(), notes.size(), section.sh_offset))
            continue;
        const uint8_t* id;
        size_t length;
        if (findBuildId(notes.data(), notes.size(), &id, &length))
            return length >= 16 ? std::memcmp(id, image->uuid, 16) == 0
                                : std::memcmp(id, image->uuid, length) == 0;
    }
    return false;
}

// .symtab when the file keeps one, else .dynsym: function symbols inside the image, sorted.
void loadSymbols(tlcrash_async_elf_image* image, uint64_t bias) {
    const int fd = open(image->name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ElfW(Ehdr) header;
    std::vector<ElfW(Shdr)> sections;
    if (readAt(fd, &header, sizeof header, 0) && std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
        header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_shentsize == sizeof(ElfW(Shdr)) && header.e_shnum > 0) {
        sections.resize(header.e_shnum);
        if (!readAt(fd, sections.data(), sections.size() * sizeof(ElfW(Shdr)), header.e_shoff))
            sections.clear();
    }
    const ElfW(Shdr)* table = nullptr;
    for (uint32_t type : {SHT_SYMTAB, SHT_DYNSYM}) {
        for (const auto& section : sections)
            if (section.sh_type == type && section.sh_size >= sizeof(ElfW(Sym)) && section.sh_link < sections.size() &&
                sections[section.sh_link].sh_type == SHT_STRTAB) {
                table = &section;
                break;
            }
        if (table)
            break;
    }
    if (table == nullptr || !sameBuild(image, fd, sections)) {
        close(fd);
        return;
    }
    const ElfW(Shdr)& strings = sections[table->sh_link];
    const uint64_t count = table->sh_size / sizeof(ElfW(Sym));
    std::vector<ElfW(Sym)> raw(count <= kMaxSymbols ? count : 0);
    std::vector<tlcrash_async_elf_symbol> kept;
    if (!raw.empty() && readAt(fd, raw.data(), raw.size() * sizeof(ElfW(Sym)), table->sh_offset)) {
        for (const auto& symbol : raw) {
            const unsigned type = ELF64_ST_TYPE(symbol.st_info);
            if ((type != STT_FUNC && type != STT_GNU_IFUNC) || symbol.st_shndx == SHN_UNDEF || symbol.st_value == 0 ||
                symbol.st_name == 0 || symbol.st_name >= strings.sh_size)
                continue;
            const uint64_t address = symbol.st_value + bias;
            if (tlcrash_async_elf_image_contains_address(image, address))
                kept.push_back({address, symbol.st_name,
                                static_cast<uint32_t>(symbol.st_size < UINT32_MAX ? symbol.st_size : UINT32_MAX)});
        }
    }
    // At one address the sized symbol wins (an alias without size says less).
    std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) {
        return a.address != b.address ? a.address < b.address : a.size > b.size;
    });
    kept.erase(std::unique(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.address == b.address; }),
               kept.end());
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    const uint64_t start = strings.sh_offset & ~(page - 1);
    const size_t length = static_cast<size_t>(strings.sh_offset - start + strings.sh_size);
    void* mapping = kept.empty() ? MAP_FAILED : mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, static_cast<off_t>(start));
    close(fd);
    if (mapping == MAP_FAILED)
        return;
    image->symbols = static_cast<tlcrash_async_elf_symbol*>(std::malloc(kept.size() * sizeof kept[0]));
    if (image->symbols == nullptr) {
        munmap(mapping, length);
        return;
    }
    std::memcpy(image->symbols, kept.data(), kept.size() * sizeof kept[0]);
    image->symbol_count = kept.size();
    image->mapping = mapping;
    image->mapping_length = length;
    image->strings = reinterpret_cast<uintptr_t>(mapping) + (strings.sh_offset - start);
    image->strings_size = strings.sh_size;
}

// The bounds of .eh_frame from the header's pointer; the header is dropped when its form is
// not the one this reader knows.
void locateCallFrames(tlcrash_async_elf_image* image, uint64_t bias, const ElfW(Phdr) * phdrs, size_t phnum) {
    uint8_t head[8];
    if (tlcrash_async_task_memcpy(image->task, image->eh_frame_hdr, 0, head, sizeof head) != TLCRASH_ESUCCESS ||
        head[0] != 1 || head[1] != kPcRelSdata4 || head[2] != kUdata4 || head[3] != kDataRelSdata4) {
        image->eh_frame_hdr = 0;
        return;
    }
    int32_t relative;
    std::memcpy(&relative, head + 4, sizeof relative);
    const uint64_t start = image->eh_frame_hdr + 4 + static_cast<int64_t>(relative);
    for (size_t i = 0; i < phnum; ++i) {
        const uint64_t from = bias + phdrs[i].p_vaddr;
        if (phdrs[i].p_type == PT_LOAD && start >= from && start < from + phdrs[i].p_memsz) {
            image->eh_frame_start = start;
            image->eh_frame_end = from + phdrs[i].p_memsz;
            return;
        }
    }
    image->eh_frame_hdr = 0;
}

}  // namespace

tlcrash_error_t tlcrash_async_elf_image_init(tlcrash_async_elf_image* image, tlcrash_task_t task, const char* path,
                                             uint64_t bias, const ElfW(Phdr) * phdrs, size_t phnum) {
    std::memset(image, 0, sizeof *image);
    image->task = task;
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    uint64_t low = UINT64_MAX;
    uint64_t executableEnd = 0;
    for (size_t i = 0; i < phnum; ++i) {
        const ElfW(Phdr)& p = phdrs[i];
        const uint64_t at = bias + p.p_vaddr;
        if (p.p_type == PT_LOAD) {
            low = std::min(low, at & ~(page - 1));
            if (p.p_flags & PF_X)
                executableEnd = std::max(executableEnd, at + p.p_memsz);
        } else if (p.p_type == PT_GNU_EH_FRAME) {
            image->eh_frame_hdr = at;
        } else if (p.p_type == PT_NOTE && !image->has_uuid) {
            const uint8_t* id;
            size_t length;
            if (findBuildId(reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(at)), p.p_filesz, &id, &length) &&
                length > 0) {
                std::memcpy(image->uuid, id, std::min<size_t>(length, 16));
                image->has_uuid = true;
                image->uuid_address = reinterpret_cast<uintptr_t>(id);
                image->uuid_length = static_cast<uint32_t>(std::min<size_t>(length, 16));
            }
        }
    }
    if (low == UINT64_MAX || executableEnd <= low)
        return TLCRASH_EINVAL;
    image->base = low;
    image->size = executableEnd - low;
    image->has_header = tlcrash_async_task_memcpy(task, low, 0, image->header, sizeof image->header) ==
                            TLCRASH_ESUCCESS &&
                        std::memcmp(image->header, ELFMAG, SELFMAG) == 0;

    if (path != nullptr && *path != 0) {
        image->name = strdup(path);
    } else {
        char exe[PATH_MAX];
        const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
        exe[length > 0 ? length : 0] = 0;
        image->name = strdup(exe);
    }
    if (image->name == nullptr)
        return TLCRASH_ENOMEM;
    if (image->eh_frame_hdr != 0)
        locateCallFrames(image, bias, phdrs, phnum);
    loadSymbols(image, bias);
    return TLCRASH_ESUCCESS;
}

void tlcrash_async_elf_image_free(tlcrash_async_elf_image* image) {
    if (image->mapping != nullptr)
        munmap(image->mapping, image->mapping_length);
    std::free(image->symbols);
    std::free(image->name);
    std::memset(image, 0, sizeof *image);
}

bool tlcrash_async_elf_image_is_current(const tlcrash_async_elf_image* image) {
    auto same = [image](uint64_t address, const uint8_t* kept, size_t length) {
        uint8_t now[sizeof image->header];
        if (tlcrash_async_task_memcpy(image->task, address, 0, now, length) != TLCRASH_ESUCCESS)
            return false;
        for (size_t i = 0; i < length; ++i)
            if (now[i] != kept[i])
                return false;
        return true;
    };
    return (!image->has_header || same(image->base, image->header, sizeof image->header)) &&
           (image->uuid_address == 0 || same(image->uuid_address, image->uuid, image->uuid_length));
}

tlcrash_error_t tlcrash_async_elf_find_symbol(const tlcrash_async_elf_image* image, uint64_t pc,
                                              tlcrash_async_elf_symbol_cb callback, void* context) {
    size_t low = 0;
    size_t high = image->symbol_count;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (image->symbols[middle].address <= pc)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == 0)
        return TLCRASH_ENOTFOUND;
    const tlcrash_async_elf_symbol& symbol = image->symbols[low - 1];
    if (symbol.size != 0 && pc - symbol.address >= symbol.size)
        return TLCRASH_ENOTFOUND;
    // The names live in a file mapping: copied, so a file cut short since cannot fault here.
    char name[kMaxNameLength];
    size_t length = 0;
    const uint64_t available = image->strings_size - symbol.name;
    while (length + 1 < sizeof name && length < available) {
        uint64_t chunk = 64 - ((image->strings + symbol.name + length) & 63);
        chunk = std::min<uint64_t>({chunk, sizeof name - 1 - length, available - length});
        if (tlcrash_async_task_memcpy(image->task, image->strings + symbol.name + length, 0, name + length, chunk) !=
            TLCRASH_ESUCCESS)
            return TLCRASH_ENOTFOUND;
        const size_t end = length + static_cast<size_t>(chunk);
        for (; length < end && name[length] != 0; ++length) {
        }
        if (length < end)
            break;
    }
    name[length] = 0;
    if (length == 0)
        return TLCRASH_ENOTFOUND;
    callback(symbol.address, name, context);
    return TLCRASH_ESUCCESS;
}

tlcrash_error_t tlcrash_async_elf_find_fde(const tlcrash_async_elf_image* image, uint64_t pc, uint64_t* fde_address) {
    if (image->eh_frame_hdr == 0)
        return TLCRASH_ENOTSUP;
    const uint64_t hdr = image->eh_frame_hdr;
    uint32_t count;
    if (tlcrash_async_task_memcpy(image->task, hdr, 8, &count, sizeof count) != TLCRASH_ESUCCESS)
        return TLCRASH_ENOTSUP;
    const uint64_t table = hdr + 12;
    // The last entry whose start is at or below pc.
    uint64_t low = 0;
    uint64_t high = count;
    int32_t found[2] = {0, 0};
    bool any = false;
    while (low < high) {
        const uint64_t middle = low + (high - low) / 2;
        int32_t entry[2];
        if (tlcrash_async_task_memcpy(image->task, table, static_cast<int64_t>(middle * 8), entry, sizeof entry) !=
            TLCRASH_ESUCCESS)
            return TLCRASH_ENOTSUP;
        if (hdr + static_cast<int64_t>(entry[0]) <= pc) {
            found[0] = entry[0];
            found[1] = entry[1];
            any = true;
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (!any)
        return TLCRASH_ENOTFOUND;
    const uint64_t fde = hdr + static_cast<int64_t>(found[1]);
    if (fde < image->eh_frame_start || fde >= image->eh_frame_end)
        return TLCRASH_ENOTFOUND;
    *fde_address = fde;
    return TLCRASH_ESUCCESS;
}
