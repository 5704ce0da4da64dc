#pragma once
// All game data is read through the one FileSystem (Singleton<FileSystem>::instance()). A
// relative path is looked up in the mounted archives, newest first, then on disk relative to the
// working directory. Archives are only ever added.
//
// exists and open may be called from any thread, also while another thread mounts.
#include <boost/ptr_container/ptr_vector.hpp>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>
#include <string>

#include "os/File.h"
#include "os/MemoryMappedZipFile.h"
#include "os/Singleton.h"

class FileSystem {
public:
    FileSystem();
    ~FileSystem();
    FileSystem(FileSystem const&) = delete;
    FileSystem& operator=(FileSystem const&) = delete;

    // Mounts the zip archive at path (or the given range of that file) above those mounted
    // before. Null, and nothing mounted, when the path does not exist. An archive that cannot be
    // read mounts with no entries.
    MemoryMappedZipFile* mount(std::string const& path,
                               std::optional<MemoryMappedZipFile::Range> range = std::nullopt);

    bool exists(std::string const& path) const;
    // Never null; an empty file (size 0) when the path is found nowhere or cannot be read. A path
    // found nowhere is logged, once per path: callers that may do without a file ask exists first.
    std::shared_ptr<File> open(std::string const& path) const;

    // The text from the last '.' to the end, the '.' included (".pxl"); empty when the path has
    // no '.' at all. The '.' may be in a directory name.
    static std::string extension(std::string const& path);
    // The text before the last '.', then suffix (which brings its own '.'); a path without '.'
    // gets the suffix appended: ("levels/level01.pxl", "_en_US.pxl") -> "levels/level01_en_US.pxl".
    static std::string replaceExtension(std::string const& path, std::string const& suffix);
    // The path fit for a terminal: control characters become '?'.
    static std::string printable(std::string path);

private:
    static constexpr size_t kMissedRemembered = 4096;
    MemoryMappedZipFile const* archiveHolding(std::string const& path) const;
    void logMissed(std::string const& path) const;

    mutable std::shared_mutex mutex_;
    boost::ptr_vector<MemoryMappedZipFile> mounts_;  // owning, in mount order
    mutable std::mutex missedMutex_;
    mutable std::set<std::string> missed_;
};
