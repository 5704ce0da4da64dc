// Mounts arbitrary bytes as a data archive, whole and as a range, and reads every entry it lists;
// checks them as the start-up does, and a passing archive must mount with entries.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "os/FileSystem.h"

namespace {

char scratchName[] = "/tmp/zelv_mount_fuzz_XXXXXX";

char const* scratchFile() {
    static bool const made = [] {
        int fd = mkstemp(scratchName);
        if (fd < 0) std::abort();
        close(fd);
        std::atexit([] { ::unlink(scratchName); });
        return true;
    }();
    (void)made;
    return scratchName;
}

uint64_t readAll(FileSystem const& fs, MemoryMappedZipFile const* archive) {
    uint64_t sum = 0;
    if (!archive) return sum;
    for (auto const& [name, where] : archive->entries()) {
        auto f = fs.open(name);
        if (f->size() != where.length) std::abort();
        for (uint64_t i = 0; i < f->size(); ++i) sum += f->data()[i];
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    std::string const path = scratchFile();
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0) return 0;
    size_t written = 0;
    while (written < size) {
        ssize_t n = ::write(fd, data + written, size - written);
        if (n <= 0) break;
        written += size_t(n);
    }
    ::close(fd);

    volatile uint64_t sink = 0;
    std::string why;
    bool const sound = MemoryMappedZipFile::check(path, true, &why);
    {
        FileSystem fs;
        MemoryMappedZipFile const* archive = fs.mount(path);
        if (sound && (!archive || archive->entries().empty())) std::abort();
        sink = sink + readAll(fs, archive);
    }
    if (size > 2) {
        // The first byte picks where a ranged archive starts; the second how much it leaves off.
        FileSystem fs;
        uint64_t offset = data[0] % size, length = size - offset > data[1] ? size - offset - data[1] : 0;
        sink = sink + readAll(fs, fs.mount(path, MemoryMappedZipFile::Range{offset, length + 64}));
    }
    return 0;
}
