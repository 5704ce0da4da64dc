#include "save/RoamingDataFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "os/services/Documents.h"
#include "platform/AtomicFile.h"

namespace {

std::mutex& saveFileMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

size_t RoamingDataFile::maxFileSize() { return 4 + compressBound(RoamingData::kMaxArchiveSize); }

RoamingDataFile::RoamingDataFile(std::string const& name)
    : data(false), path_(std::string(documentsPath()) + name), lock_(saveFileMutex()) {
    open();
}

RoamingDataFile::~RoamingDataFile() {
    close();
    lock_.unlock();
}

void RoamingDataFile::open() {
    int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            std::fprintf(stderr, "save: cannot read %s (%s); starting from defaults\n", path_.c_str(),
                         std::strerror(errno));
            damaged_ = true;
        }
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > maxFileSize()) {
        std::fprintf(stderr, "save: %s is not a save file (%lld bytes); starting from defaults\n", path_.c_str(),
                     static_cast<long long>(st.st_size));
        ::close(fd);
        damaged_ = true;
        return;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    if (!bytes.empty() && !data.load(bytes.data(), bytes.size())) {
        std::fprintf(stderr, "save: %s is damaged; kept what it held and loaded as far as it reads\n",
                     path_.c_str());
        damaged_ = true;
        damagedBytes_ = std::move(bytes);
    }
}

// Before a damaged file is replaced, its bytes go to "<name>.bad" so nothing is lost for good.
void RoamingDataFile::keepDamagedAside() {
    std::string const aside = path_ + ".bad";
    ::unlink(aside.c_str());
    if (::link(path_.c_str(), aside.c_str()) == 0 || errno == ENOENT) {
        return;
    }
    std::string error;
    if (!damagedBytes_.empty() &&
        platform::writeFileAtomically(aside, damagedBytes_.data(), damagedBytes_.size(), &error)) {
        return;
    }
    std::fprintf(stderr, "save: cannot keep the damaged %s aside: %s\n", path_.c_str(),
                 error.empty() ? std::strerror(errno) : error.c_str());
}

void RoamingDataFile::close() {
    bool const changed = data.commit();
    if (!changed && !data.needsSave()) {
        return;
    }
    std::vector<uint8_t> blob;
    try {
        blob = data.save();
    } catch (std::exception const& e) {
        std::fprintf(stderr, "save: cannot encode the save record: %s\n", e.what());
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    if (damaged_) {
        keepDamagedAside();
    }
    std::string error;
    if (!platform::writeFileAtomically(path_, blob.data(), blob.size(), &error)) {
        std::fprintf(stderr, "save: progress not saved: %s\n", error.c_str());
    }
}
