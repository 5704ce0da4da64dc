#include "os/File.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

uint64_t pageSize() {
    static uint64_t const size = uint64_t(sysconf(_SC_PAGESIZE));
    return size;
}

File::~File() = default;

namespace {

constexpr uint64_t readAheadThreshold = 256 * 1024;

// Opens a regular file for reading and returns its descriptor and size; -1 for anything else.
// Non-blocking, so that a path naming a pipe does not wait for a writer.
int openRegular(std::string const& path, uint64_t& size) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    size = uint64_t(st.st_size);
    return fd;
}

}  // namespace

MemoryMappedFile::MemoryMappedFile(std::string const& path) : File(nullptr, 0), mapping_(MAP_FAILED) {
    uint64_t fileSize = 0;
    int fd = openRegular(path, fileSize);
    if (fd < 0) return;
    map(fd, fileSize, 0, 0);
    ::close(fd);
}

MemoryMappedFile::MemoryMappedFile(std::string const& path, uint64_t mapLength, uint64_t mapOffset, uint64_t delta)
    : File(nullptr, 0), mapping_(MAP_FAILED) {
    uint64_t fileSize = 0;
    int fd = openRegular(path, fileSize);
    if (fd < 0) return;
    // Touching mapped pages past the end of the file raises SIGBUS: refuse such windows (the
    // archive may have been replaced by a shorter file since it was mounted).
    bool inside = mapOffset % pageSize() == 0 && delta <= mapLength && mapOffset <= fileSize &&
                  mapLength <= fileSize - mapOffset;
    if (inside) map(fd, mapLength, mapOffset, delta);
    ::close(fd);
}

void MemoryMappedFile::map(int fd, uint64_t mapLength, uint64_t mapOffset, uint64_t delta) {
    if (mapLength == 0 || mapLength == delta) return;  // nothing to map; mmap refuses length 0
    if (mapLength > uint64_t(SIZE_MAX) || mapOffset > uint64_t(INT64_MAX)) return;
    void* m = ::mmap(nullptr, size_t(mapLength), PROT_READ, MAP_PRIVATE, fd, off_t(mapOffset));
    if (m == MAP_FAILED) return;
    // Large entries are read front to back once, mostly by decoders: ask for read-ahead.
    if (mapLength >= readAheadThreshold) ::madvise(m, size_t(mapLength), MADV_SEQUENTIAL);
    mapping_ = m;
    mappingLength_ = mapLength;
    data_ = static_cast<uint8_t const*>(m) + delta;
    size_ = mapLength - delta;
}

MemoryMappedFile::~MemoryMappedFile() {
    if (mapping_ != MAP_FAILED) ::munmap(mapping_, size_t(mappingLength_));
}
