// Archive entries through the file system against the same bytes read from plain files with
// stdio, and mounting pak0 against a plain single-pass reader of its central directory.
// Both sides of each pair hand back bytes they own: a fresh File on one side, a fresh buffer on
// the other.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <unordered_map>
#include <vector>

#include "os/FileSystem.h"
#include "os/tests/ZipWriter.h"
#include "testing/TestPaths.h"

namespace {

uint64_t checksum(uint8_t const* p, size_t n) {
    uint64_t sum = 0;
    for (size_t i = 0; i < n; i += 64) sum += p[i];
    return sum;
}

// Reads a whole plain file into a buffer of its own.
size_t readPlain(std::string const& path, std::unique_ptr<uint8_t[]>& out) {
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return 0;
    struct stat st {};
    fstat(fileno(in), &st);
    size_t const size = size_t(st.st_size);
    out.reset(new uint8_t[size]);
    size_t got = std::fread(out.get(), 1, size, in);
    std::fclose(in);
    return got;
}

std::string pakPath() { return (testing_support::binaryDir() / "pak0.pak").string(); }

// pak0's entries, each also written out as a plain file, grouped by size.
struct Pak0 {
    testing_support::TempDir dir;
    FileSystem fs;
    MemoryMappedZipFile const* archive = nullptr;
    struct Entry {
        std::string name, plainPath;
        uint64_t size;
    };
    std::vector<Entry> entries;

    Pak0() {
        archive = fs.mount(pakPath());
        if (!archive) return;
        for (auto const& [name, where] : archive->entries()) {
            auto plain = dir / name;
            std::filesystem::create_directories(plain.parent_path());
            auto f = fs.open(name);
            ziptest::writeFile(plain, std::string(reinterpret_cast<char const*>(f->data()), f->size()));
            entries.push_back({name, plain.string(), where.length});
        }
    }

    // Entries with size in (lo, hi].
    std::vector<Entry> between(uint64_t lo, uint64_t hi) const {
        std::vector<Entry> out;
        for (auto const& e : entries)
            if (e.size > lo && e.size <= hi) out.push_back(e);
        return out;
    }
};

Pak0& pak0() {
    static Pak0 p;
    return p;
}

// Size classes of pak0's entries (upper bounds, bytes); arg 0 is every entry.
uint64_t const classes[][2] = {{0, UINT64_MAX}, {0, 4 << 10}, {4 << 10, 64 << 10}, {64 << 10, UINT64_MAX}};

void setLabel(benchmark::State& state, std::vector<Pak0::Entry> const& set) {
    uint64_t bytes = 0;
    for (auto const& e : set) bytes += e.size;
    state.SetLabel(std::to_string(set.size()) + " entries, " + std::to_string(bytes >> 10) + " KiB");
    state.SetBytesProcessed(int64_t(state.iterations() * bytes));
    state.SetItemsProcessed(int64_t(state.iterations() * set.size()));
}

void BM_Pak0EntriesFromArchive(benchmark::State& state) {
    auto& p = pak0();
    if (!p.archive) return state.SkipWithError("pak0.pak not built");
    auto set = p.between(classes[state.range(0)][0], classes[state.range(0)][1]);
    for (auto _ : state) {
        for (auto const& e : set) {
            auto file = p.fs.open(e.name);
            benchmark::DoNotOptimize(checksum(file->data(), file->size()));
        }
    }
    setLabel(state, set);
}
BENCHMARK(BM_Pak0EntriesFromArchive)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

void BM_Pak0EntriesAsPlainFiles(benchmark::State& state) {
    auto& p = pak0();
    if (!p.archive) return state.SkipWithError("pak0.pak not built");
    auto set = p.between(classes[state.range(0)][0], classes[state.range(0)][1]);
    std::unique_ptr<uint8_t[]> buffer;
    for (auto _ : state) {
        for (auto const& e : set) {
            size_t got = readPlain(e.plainPath, buffer);
            benchmark::DoNotOptimize(checksum(buffer.get(), got));
        }
    }
    setLabel(state, set);
}
BENCHMARK(BM_Pak0EntriesAsPlainFiles)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// Fixed points: one 4 KiB and one 256 KiB entry at offsets off the page grid.
struct Points {
    testing_support::TempDir dir;
    FileSystem fs;

    Points() {
        std::vector<ziptest::Entry> entries;
        std::mt19937 rng(1);
        for (size_t size : {size_t(4) << 10, size_t(256) << 10}) {
            std::string bytes(size, '\0');
            for (auto& c : bytes) c = char(rng());
            std::string name = "entry" + std::to_string(size);
            ziptest::writeFile(dir / name, bytes);
            entries.emplace_back(name, bytes);
            entries.back().localExtra = 4 + uint16_t(size % 997);
        }
        ziptest::writeFile(dir / "bench.pak", ziptest::build(entries));
        fs.mount((dir / "bench.pak").string());
    }
};

Points& points() {
    static Points p;
    return p;
}

void BM_ArchiveEntry(benchmark::State& state) {
    auto& p = points();
    std::string name = "entry" + std::to_string(state.range(0));
    for (auto _ : state) {
        auto file = p.fs.open(name);
        benchmark::DoNotOptimize(checksum(file->data(), file->size()));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ArchiveEntry)->Arg(4 << 10)->Arg(256 << 10);

void BM_PlainFileRead(benchmark::State& state) {
    auto& p = points();
    std::string path = (p.dir / ("entry" + std::to_string(state.range(0)))).string();
    std::unique_ptr<uint8_t[]> buffer;
    for (auto _ : state) {
        size_t got = readPlain(path, buffer);
        benchmark::DoNotOptimize(checksum(buffer.get(), got));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_PlainFileRead)->Arg(4 << 10)->Arg(256 << 10);

void BM_MountPak0(benchmark::State& state) {
    std::string const path = pakPath();
    size_t entries = 0;
    for (auto _ : state) {
        MemoryMappedZipFile archive(path);
        entries = archive.entries().size();
        benchmark::DoNotOptimize(entries);
    }
    if (entries == 0) state.SkipWithError("pak0.pak not built");
    state.SetLabel(std::to_string(entries) + " entries");
}
BENCHMARK(BM_MountPak0)->Unit(benchmark::kMicrosecond);

uint32_t le16(uint8_t const* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(uint8_t const* p) { return le16(p) | le16(p + 2) << 16; }

// Baseline: the end record and the whole central directory read with one pread each, every
// local header with one more, into the same table. No damage checks beyond staying in bounds.
void BM_SinglePassDirectoryRead(benchmark::State& state) {
    std::string const path = pakPath();
    size_t entries = 0;
    std::vector<uint8_t> tail, directory;
    for (auto _ : state) {
        std::unordered_map<std::string, MemoryMappedZipFile::MemoryFile> table;
        table.max_load_factor(1.0f);
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        ::fstat(fd, &st);
        uint64_t const size = uint64_t(st.st_size);
        uint64_t const tailStart = size > 22 + 0xFFFF ? size - 22 - 0xFFFF : 0;
        tail.resize(size - tailStart);
        ::pread(fd, tail.data(), tail.size(), off_t(tailStart));
        size_t end = tail.size() - 22;
        while (end > 0 && le32(&tail[end]) != 0x06054b50) --end;
        uint32_t const count = le16(&tail[end + 10]);
        uint64_t const dirSize = le32(&tail[end + 12]), dirOffset = le32(&tail[end + 16]);
        directory.resize(dirSize);
        ::pread(fd, directory.data(), dirSize, off_t(dirOffset));
        table.reserve(count);
        size_t at = 0;
        for (uint32_t i = 0; i < count && at + 46 <= dirSize; ++i) {
            uint8_t const* h = &directory[at];
            uint32_t const nameLength = le16(h + 28);
            uint64_t const length = le32(h + 24), local = le32(h + 42);
            uint8_t header[30];
            ::pread(fd, header, 30, off_t(local));
            uint64_t const data = local + 30 + le16(header + 26) + le16(header + 28);
            table.try_emplace(std::string(reinterpret_cast<char const*>(h + 46), nameLength),
                              MemoryMappedZipFile::MemoryFile{data, length});
            at += 46 + nameLength + le16(h + 30) + le16(h + 32);
        }
        ::close(fd);
        entries = table.size();
        benchmark::DoNotOptimize(entries);
    }
    if (entries == 0) state.SkipWithError("pak0.pak not built");
    state.SetLabel(std::to_string(entries) + " entries");
}
BENCHMARK(BM_SinglePassDirectoryRead)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
