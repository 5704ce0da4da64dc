#pragma once
// Read-only byte views of data files. Users hold them through std::shared_ptr<File>; the bytes
// stay valid for as long as the File lives.
#include <cstdint>
#include <string>

class File {
public:
    virtual ~File();
    File(File const&) = delete;
    File& operator=(File const&) = delete;

    uint8_t const* data() const { return data_; }
    uint64_t size() const { return size_; }

protected:
    File(uint8_t const* data, uint64_t size) : data_(data), size_(size) {}

    uint8_t const* data_;
    uint64_t size_;
};

// A path that does not exist or cannot be read: no bytes.
class InvalidFile : public File {
public:
    InvalidFile() : File(nullptr, 0) {}
};

// A read-only private mapping of a disk file or of a window of one. Anything that cannot be
// opened, sized or mapped (a directory, a vanished file, a window past the end) gives no bytes.
class MemoryMappedFile : public File {
public:
    // Maps the whole file.
    explicit MemoryMappedFile(std::string const& path);
    // Maps mapLength bytes from mapOffset (a multiple of the page size); the bytes start delta
    // bytes into the mapping.
    MemoryMappedFile(std::string const& path, uint64_t mapLength, uint64_t mapOffset, uint64_t delta);
    ~MemoryMappedFile() override;

private:
    void map(int fd, uint64_t mapLength, uint64_t mapOffset, uint64_t delta);

    void* mapping_;
    uint64_t mappingLength_ = 0;
};

// The system's page size (read once; safe to call while other globals are being built).
uint64_t pageSize();
