#pragma once
// One mounted zip data archive: the archive mapped read-only once, and a table of its stored
// entries. The table is filled by the constructor and never changes after, so any number of
// threads may look up and open entries at once. An opened entry is a view into the mapping that
// shares ownership of it: it stays readable after its archive is unmounted.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "os/File.h"

class MemoryMappedZipFile {
public:
    // Where an archive lies inside a larger file.
    struct Range {
        uint64_t offset = 0;
        uint64_t length = 0;
    };

    // Where an entry's bytes lie in the archive file.
    struct MemoryFile {
        uint64_t offset = 0;  // absolute byte offset in the file at `path`
        uint64_t length = 0;
    };

    // Maps the archive at path (the whole file, or the given range) and reads its central
    // directory. An unreadable or damaged archive gives an empty table; entries that are not
    // plain stored files lying wholly inside the archive are left out.
    explicit MemoryMappedZipFile(std::string path, std::optional<Range> range = std::nullopt);
    ~MemoryMappedZipFile();
    MemoryMappedZipFile(MemoryMappedZipFile const&) = delete;
    MemoryMappedZipFile& operator=(MemoryMappedZipFile const&) = delete;

    // Whether the file at path is a whole archive the game can read: a regular file whose
    // central directory opens and lists at least one file, every entry stored uncompressed with
    // consistent sizes and lying wholly inside the file; with checkContents every entry's bytes
    // must also match their checksum. On failure *why (when given) says what is wrong.
    static bool check(std::string const& path, bool checkContents, std::string* why = nullptr);

    bool contains(std::string const& name) const { return entries_.count(name) != 0; }
    // The entry's bytes, or an empty file when the name is not in the table or the archive file
    // has shrunk below the entry's end since the mount.
    std::shared_ptr<File> open(std::string const& name) const;

    std::string const& path() const { return path_; }
    uint64_t archiveOffset() const { return archiveOffset_; }
    uint64_t archiveLength() const { return archiveLength_; }
    std::unordered_map<std::string, MemoryFile> const& entries() const { return entries_; }

    // The archive's descriptor and its one mapping; released with the last view of it.
    struct Mapping;

private:
    // What a check collects while the directory is read: the first damage met, and each
    // entry's stored checksum.
    struct Inspection {
        std::string problem;
        std::vector<std::pair<std::string, uint32_t>> checksums;
    };
    MemoryMappedZipFile(std::string path, std::optional<Range> range, Inspection* inspection);
    void readCentralDirectory(uint8_t const* archive, Inspection* inspection);

    std::string path_;
    uint64_t archiveOffset_ = 0;
    uint64_t archiveLength_ = 0;
    std::unordered_map<std::string, MemoryFile> entries_;
    std::shared_ptr<Mapping const> mapping_;
};
