#include "os/MemoryMappedZipFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

struct MemoryMappedZipFile::Mapping {
    int fd = -1;
    void* address = MAP_FAILED;
    uint64_t length = 0;
    uint64_t fileOffset = 0;  // where the mapping starts in the file, a multiple of the page size

    Mapping() = default;
    Mapping(Mapping const&) = delete;
    Mapping& operator=(Mapping const&) = delete;
    ~Mapping() {
        if (address != MAP_FAILED) ::munmap(address, size_t(length));
        if (fd >= 0) ::close(fd);
    }

    uint8_t const* at(uint64_t offset) const { return static_cast<uint8_t const*>(address) + (offset - fileOffset); }
};

namespace {

// A view of one entry; it keeps the archive's mapping alive.
class EntryView : public File {
public:
    EntryView(std::shared_ptr<MemoryMappedZipFile::Mapping const> mapping, uint8_t const* data, uint64_t size)
        : File(data, size), mapping_(std::move(mapping)) {}

private:
    std::shared_ptr<MemoryMappedZipFile::Mapping const> mapping_;
};

uint32_t u16(uint8_t const* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t u32(uint8_t const* p) { return u16(p) | u16(p + 2) << 16; }

constexpr uint32_t endSignature = 0x06054b50;
constexpr uint32_t directorySignature = 0x02014b50;
constexpr uint32_t localSignature = 0x04034b50;
constexpr uint64_t endRecordSize = 22;
constexpr uint64_t directoryHeaderSize = 46;
constexpr uint64_t localHeaderSize = 30;
constexpr uint64_t maxCommentSize = 0xFFFF;
constexpr uint32_t encryptedFlag = 0x1;
constexpr uint32_t descriptorFlag = 0x8;
constexpr uint32_t directoryAttribute = 0x10;

bool refuse(std::string* why, std::string const& text) {
    if (why) *why = text;
    return false;
}

}  // namespace

bool MemoryMappedZipFile::check(std::string const& path, bool checkContents, std::string* why) {
    struct stat st {};
    int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return refuse(why, std::strerror(errno));
    bool const statted = ::fstat(fd, &st) == 0;
    int const statError = errno;
    ::close(fd);
    if (!statted) return refuse(why, std::strerror(statError));
    if (S_ISDIR(st.st_mode)) return refuse(why, "it is a folder");
    if (!S_ISREG(st.st_mode)) return refuse(why, "it is not a regular file");
    if (st.st_size == 0) return refuse(why, "it is empty");
    Inspection inspection;
    MemoryMappedZipFile const zip(path, std::nullopt, &inspection);
    if (!inspection.problem.empty()) return refuse(why, inspection.problem);
    if (!zip.mapping_) return refuse(why, "it cannot be mapped into memory");
    if (zip.entries_.empty()) return refuse(why, "it holds no files");
    if (checkContents) {
        for (auto const& [name, expected] : inspection.checksums) {
            MemoryFile const& entry = zip.entries_.at(name);
            uint8_t const* bytes = zip.mapping_->at(entry.offset);
            uLong crc = crc32(0L, Z_NULL, 0);
            for (uint64_t done = 0; done < entry.length;) {
                uInt const n = uInt(std::min<uint64_t>(entry.length - done, 1u << 30));
                crc = crc32(crc, bytes + done, n);
                done += n;
            }
            if (crc != expected) return refuse(why, "entry " + name + " is damaged (checksum mismatch)");
        }
    }
    return true;
}

MemoryMappedZipFile::MemoryMappedZipFile(std::string path, std::optional<Range> range)
    : MemoryMappedZipFile(std::move(path), range, nullptr) {}

MemoryMappedZipFile::MemoryMappedZipFile(std::string path, std::optional<Range> range, Inspection* inspection)
    : path_(std::move(path)) {
    entries_.max_load_factor(1.0f);
    if (range) {
        archiveOffset_ = range->offset;
        archiveLength_ = range->length;
    }
    auto mapping = std::make_shared<Mapping>();
    mapping->fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    uint64_t fileSize = 0;
    if (mapping->fd >= 0 && ::fstat(mapping->fd, &st) == 0 && S_ISREG(st.st_mode)) fileSize = uint64_t(st.st_size);
    if (!range) archiveLength_ = fileSize;
    // A range reaching past the end of the file is cut to what is there.
    archiveOffset_ = std::min(archiveOffset_, fileSize);
    archiveLength_ = std::min(archiveLength_, fileSize - archiveOffset_);
    mapping->fileOffset = archiveOffset_ - archiveOffset_ % pageSize();
    mapping->length = archiveOffset_ + archiveLength_ - mapping->fileOffset;
    if (archiveLength_ == 0 || mapping->length > uint64_t(SIZE_MAX) || mapping->fileOffset > uint64_t(INT64_MAX))
        return;
    mapping->address =
        ::mmap(nullptr, size_t(mapping->length), PROT_READ, MAP_PRIVATE, mapping->fd, off_t(mapping->fileOffset));
    if (mapping->address == MAP_FAILED) return;
    readCentralDirectory(mapping->at(archiveOffset_), inspection);
    mapping_ = std::move(mapping);
}

MemoryMappedZipFile::~MemoryMappedZipFile() = default;

void MemoryMappedZipFile::readCentralDirectory(uint8_t const* archive, Inspection* inspection) {
    // Reading for a mount skips what is damaged; a check stops at it and says what it was.
    auto damaged = [inspection](std::string const& what) {
        if (inspection && inspection->problem.empty()) inspection->problem = what;
        return inspection != nullptr;
    };
    char const* const notAnArchive = "it is not a zip archive, or its end is cut off";
    uint64_t const size = archiveLength_;
    if (size < endRecordSize) {
        damaged(notAnArchive);
        return;
    }
    // The end record is the last one in the archive; only a comment may follow it.
    uint64_t end = size - endRecordSize;
    uint64_t const lowest = end > maxCommentSize ? end - maxCommentSize : 0;
    while (u32(archive + end) != endSignature) {
        if (end == lowest) {
            damaged(notAnArchive);
            return;
        }
        --end;
    }
    uint8_t const* record = archive + end;
    uint32_t const disk = u16(record + 4), directoryDisk = u16(record + 6);
    uint32_t const entriesHere = u16(record + 8), entryCount = u16(record + 10);
    uint64_t const directorySize = u32(record + 12), directoryOffset = u32(record + 16);
    if (disk != 0 || directoryDisk != 0 || entriesHere != entryCount || directoryOffset + directorySize > end) {
        damaged(notAnArchive);
        return;
    }
    // Bytes before the archive's own offset 0: the archive may follow other data in the file.
    uint64_t const before = end - directoryOffset - directorySize;
    entries_.reserve(std::min<uint64_t>(entryCount, directorySize / directoryHeaderSize));

    uint64_t at = before + directoryOffset;
    for (uint32_t i = 0; i < entryCount; ++i) {
        // A damaged header ends the directory: what came before it stays.
        if (end - at < directoryHeaderSize || u32(archive + at) != directorySignature) {
            damaged("its list of files is damaged");
            return;
        }
        uint8_t const* header = archive + at;
        uint32_t const flags = u16(header + 8), method = u16(header + 10);
        uint64_t const compressed = u32(header + 20), uncompressed = u32(header + 24);
        uint32_t const nameLength = u16(header + 28);
        uint64_t const headerLength = directoryHeaderSize + nameLength + u16(header + 30) + u16(header + 32);
        uint32_t const attributes = u32(header + 38);
        uint64_t const localOffset = u32(header + 42);
        if (end - at < headerLength) {
            damaged("its list of files is damaged");
            return;
        }
        at += headerLength;

        char const* name = reinterpret_cast<char const*>(header + directoryHeaderSize);
        std::string const entry = inspection ? std::string(name, nameLength) : std::string();
        // Only plain stored files are readable in place: a compressed or encrypted entry's
        // bytes are not its content, and a directory or an empty file has none.
        if (compressed == 0 || nameLength == 0 || name[nameLength - 1] == '/' || (attributes & directoryAttribute))
            continue;
        if (method != 0 || (flags & encryptedFlag)) {
            if (damaged("entry " + entry + " is compressed or encrypted")) return;
            continue;
        }
        if (compressed != uncompressed) {
            if (damaged("entry " + entry + " has inconsistent sizes")) return;
            continue;
        }
        uint64_t const local = before + localOffset;
        uint8_t const* localHeader = local <= size && size - local >= localHeaderSize ? archive + local : nullptr;
        if (!localHeader || u32(localHeader) != localSignature || u16(localHeader + 8) != 0 ||
            u16(localHeader + 26) != nameLength ||
            // Without a trailing descriptor the local header repeats the checksum and sizes.
            (!(flags & descriptorFlag) &&
             (u32(localHeader + 14) != u32(header + 16) || u32(localHeader + 18) != compressed ||
              u32(localHeader + 22) != uncompressed))) {
            if (damaged("entry " + entry + " has a damaged header")) return;
            continue;
        }
        uint64_t const dataOffset = local + localHeaderSize + nameLength + u16(localHeader + 28);
        if (dataOffset > size || compressed > size - dataOffset) {
            if (damaged("entry " + entry + " reaches past the end of the file")) return;
            continue;
        }
        // The first of two same-named entries stays.
        auto const added =
            entries_.try_emplace(std::string(name, nameLength), MemoryFile{archiveOffset_ + dataOffset, uncompressed});
        if (inspection && added.second) inspection->checksums.emplace_back(entry, u32(header + 16));
    }
}

std::shared_ptr<File> MemoryMappedZipFile::open(std::string const& name) const {
    auto it = entries_.find(name);
    if (it == entries_.end()) return std::make_shared<InvalidFile>();
    MemoryFile const& entry = it->second;
    // Touching mapped pages past the end of the file raises SIGBUS: an archive cut short since
    // the mount gives nothing for the entries it lost.
    struct stat st {};
    if (::fstat(mapping_->fd, &st) != 0 || uint64_t(st.st_size) < entry.offset + entry.length)
        return std::make_shared<InvalidFile>();
    return std::make_shared<EntryView>(mapping_, mapping_->at(entry.offset), entry.length);
}
