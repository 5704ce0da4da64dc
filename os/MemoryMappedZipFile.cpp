#include "os/MemoryMappedZipFile.h"

#include <fcntl.h>
#include <minizip/unzip.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The zip reader sees the archive through these callbacks: a window [base, base + length) of one
// file, read with pread through a small block cache (the central directory is read in many
// few-byte pieces).
struct WindowStream {
    int fd = -1;
    uint64_t base = 0;
    uint64_t length = 0;
    uint64_t pos = 0;
    std::vector<uint8_t> block;
    uint64_t blockStart = 0;
    size_t blockLength = 0;
    bool failed = false;
};

constexpr size_t blockSize = 8 * 1024;

voidpf ZCALLBACK openWindow(voidpf opaque, void const*, int) { return opaque; }

uLong ZCALLBACK readWindow(voidpf, voidpf stream, void* buf, uLong size) {
    auto* s = static_cast<WindowStream*>(stream);
    auto* out = static_cast<uint8_t*>(buf);
    uLong done = 0;
    while (done < size && s->pos < s->length) {
        if (s->pos < s->blockStart || s->pos >= s->blockStart + s->blockLength) {
            s->blockStart = s->pos;
            size_t want = size_t(std::min<uint64_t>(blockSize, s->length - s->pos));
            ssize_t got;
            do {
                got = ::pread(s->fd, s->block.data(), want, off_t(s->base + s->pos));
            } while (got < 0 && errno == EINTR);
            if (got <= 0) {
                s->blockLength = 0;
                s->failed = got < 0;
                break;
            }
            s->blockLength = size_t(got);
        }
        size_t at = size_t(s->pos - s->blockStart);
        size_t n = std::min<size_t>(size - done, s->blockLength - at);
        std::memcpy(out + done, s->block.data() + at, n);
        done += uLong(n);
        s->pos += n;
    }
    return done;
}

uLong ZCALLBACK writeWindow(voidpf, voidpf, void const*, uLong) { return 0; }

ZPOS64_T ZCALLBACK tellWindow(voidpf, voidpf stream) { return static_cast<WindowStream*>(stream)->pos; }

long ZCALLBACK seekWindow(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* s = static_cast<WindowStream*>(stream);
    uint64_t from = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: from = 0; break;
        case ZLIB_FILEFUNC_SEEK_CUR: from = s->pos; break;
        case ZLIB_FILEFUNC_SEEK_END: from = s->length; break;
        default: return -1;
    }
    if (offset > s->length || from > s->length - offset) return -1;
    s->pos = from + offset;
    return 0;
}

int ZCALLBACK closeWindow(voidpf, voidpf) { return 0; }

int ZCALLBACK errorWindow(voidpf, voidpf stream) { return static_cast<WindowStream*>(stream)->failed ? 1 : 0; }

constexpr uint16_t encryptedFlag = 0x1;
constexpr uLong directoryAttribute = 0x10;

}  // namespace

MemoryMappedZipFile::MemoryMappedZipFile(std::string path, std::optional<Range> range) : path_(std::move(path)) {
    entries_.max_load_factor(1.0f);
    if (range) {
        archiveOffset_ = range->offset;
        archiveLength_ = range->length;
    }
    readCentralDirectory();
}

void MemoryMappedZipFile::readCentralDirectory() {
    WindowStream s;
    s.fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (s.fd < 0) {
        archiveLength_ = 0;
        return;
    }
    struct stat st {};
    uint64_t fileSize = 0;
    if (::fstat(s.fd, &st) == 0 && S_ISREG(st.st_mode)) fileSize = uint64_t(st.st_size);
    if (archiveOffset_ == 0 && archiveLength_ == 0) archiveLength_ = fileSize;
    // A range reaching past the end of the file is cut to what is there.
    if (archiveOffset_ > fileSize) archiveOffset_ = fileSize;
    archiveLength_ = std::min(archiveLength_, fileSize - archiveOffset_);
    s.base = archiveOffset_;
    s.length = archiveLength_;
    s.block.resize(blockSize);

    zlib_filefunc64_def io{};
    io.zopen64_file = openWindow;
    io.zread_file = readWindow;
    io.zwrite_file = writeWindow;
    io.ztell64_file = tellWindow;
    io.zseek64_file = seekWindow;
    io.zclose_file = closeWindow;
    io.zerror_file = errorWindow;
    io.opaque = &s;

    unzFile zip = s.length ? unzOpen2_64(path_.c_str(), &io) : nullptr;
    if (zip) {
        std::vector<char> name;
        for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
            unz_file_info64 info{};
            if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) continue;
            name.resize(size_t(info.size_filename) + 1);
            if (unzGetCurrentFileInfo64(zip, &info, name.data(), uLong(name.size()), nullptr, 0, nullptr, 0) != UNZ_OK)
                continue;
            std::string entryName(name.data(), size_t(info.size_filename));
            // Only plain stored files are readable in place: a compressed or encrypted entry's
            // bytes are not its content, and a directory or an empty file has none.
            if (info.compressed_size == 0 || entryName.empty() || entryName.back() == '/' ||
                (info.external_fa & directoryAttribute) || info.compression_method != 0 ||
                (info.flag & encryptedFlag) || info.compressed_size != info.uncompressed_size)
                continue;
            if (entries_.count(entryName)) continue;  // the first of two same-named entries stays
            int method = -1, level = 0;
            if (unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK) continue;
            uint64_t dataOffset = unzGetCurrentFileZStreamPos64(zip);
            unzCloseCurrentFile(zip);
            if (method != 0 || dataOffset > archiveLength_ || info.compressed_size > archiveLength_ - dataOffset)
                continue;
            entries_.emplace(std::move(entryName), MemoryFile{archiveOffset_ + dataOffset, info.uncompressed_size});
        }
        unzClose(zip);
    }
    ::close(s.fd);
}

std::shared_ptr<File> MemoryMappedZipFile::open(std::string const& name) const {
    auto it = entries_.find(name);
    if (it == entries_.end()) return std::make_shared<InvalidFile>();
    uint64_t offset = it->second.offset;
    uint64_t mapStart = offset - offset % pageSize();
    uint64_t delta = offset - mapStart;
    return std::make_shared<MemoryMappedFile>(path_, delta + it->second.length, mapStart, delta);
}
