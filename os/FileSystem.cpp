#include "os/FileSystem.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace {

bool existsOnDisk(std::string const& path) {
    if (DIR* dir = ::opendir(path.c_str())) {
        ::closedir(dir);
        return true;
    }
    // Nothing there: no need to ask again as a file. Levels probe their localized name this way.
    if (errno == ENOENT) return false;
    // Readable: opened without blocking, so that a pipe does not wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace

FileSystem::FileSystem() = default;
FileSystem::~FileSystem() = default;

MemoryMappedZipFile const* FileSystem::archiveHolding(std::string const& path) const {
    // Archives are immutable once mounted and never removed: only the list needs the lock.
    std::shared_lock lock(mutex_);
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it)
        if (it->contains(path)) return &*it;
    return nullptr;
}

MemoryMappedZipFile* FileSystem::mount(std::string const& path, std::optional<MemoryMappedZipFile::Range> range) {
    if (!exists(path)) return nullptr;
    // Reading the central directory takes a while; readers go on meanwhile.
    auto archive = std::make_unique<MemoryMappedZipFile>(path, range);
    MemoryMappedZipFile* mounted = archive.get();
    std::unique_lock lock(mutex_);
    mounts_.push_back(archive.release());
    return mounted;
}

bool FileSystem::exists(std::string const& path) const {
    return archiveHolding(path) != nullptr || existsOnDisk(path);
}

std::shared_ptr<File> FileSystem::open(std::string const& path) const {
    if (MemoryMappedZipFile const* archive = archiveHolding(path)) return archive->open(path);
    // A directory or an unreadable file maps to nothing and so comes back empty.
    if (existsOnDisk(path)) return std::make_shared<MemoryMappedFile>(path);
    logMissed(path);
    return std::make_shared<InvalidFile>();
}

void FileSystem::logMissed(std::string const& path) const {
    {
        std::lock_guard lock(missedMutex_);
        // A level may name any number of paths; past the bound every miss is logged again.
        if (missed_.size() < kMissedRemembered && !missed_.insert(path).second) return;
    }
    std::fprintf(stderr, "FileSystem: no \"%s\" in the archives or on disk\n", printable(path).c_str());
}

std::string FileSystem::extension(std::string const& path) {
    // Paths come from level files too: a path without '.' has an empty extension, not an error.
    auto dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot);
}

std::string FileSystem::printable(std::string path) {
    for (char& c : path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return path;
}

std::string FileSystem::replaceExtension(std::string const& path, std::string const& suffix) {
    auto dot = path.rfind('.');
    return (dot == std::string::npos ? path : path.substr(0, dot)) + suffix;
}
