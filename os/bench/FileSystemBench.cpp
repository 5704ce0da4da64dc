// Opening and reading an archive entry through the file system, against reading the same bytes
// from a plain file with stdio into a buffer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "os/FileSystem.h"
#include "os/tests/ZipWriter.h"
#include "testing/TestPaths.h"

namespace {

struct Fixture {
    testing_support::TempDir dir;
    FileSystem fs;
    std::vector<size_t> sizes{4 << 10, 256 << 10, 4 << 20};

    Fixture() {
        std::vector<ziptest::Entry> entries;
        std::mt19937 rng(1);
        for (size_t size : sizes) {
            std::string bytes(size, '\0');
            for (auto& c : bytes) c = char(rng());
            std::string name = "entry" + std::to_string(size);
            ziptest::writeFile(dir / name, bytes);
            entries.emplace_back(name, bytes);
            entries.back().localExtra = 4 + uint16_t(size % 997);  // not page aligned
        }
        ziptest::writeFile(dir / "bench.pak", ziptest::build(entries));
        fs.mount((dir / "bench.pak").string());
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

uint64_t checksum(uint8_t const* p, size_t n) {
    uint64_t sum = 0;
    for (size_t i = 0; i < n; i += 64) sum += p[i];
    return sum;
}

void ArchiveEntry(benchmark::State& state) {
    auto& f = fixture();
    std::string name = "entry" + std::to_string(state.range(0));
    for (auto _ : state) {
        auto file = f.fs.open(name);
        benchmark::DoNotOptimize(checksum(file->data(), file->size()));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void PlainFileRead(benchmark::State& state) {
    auto& f = fixture();
    std::string path = (f.dir / ("entry" + std::to_string(state.range(0)))).string();
    std::vector<uint8_t> buffer;
    for (auto _ : state) {
        FILE* in = std::fopen(path.c_str(), "rb");
        std::fseek(in, 0, SEEK_END);
        buffer.resize(size_t(std::ftell(in)));
        std::fseek(in, 0, SEEK_SET);
        size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        std::fclose(in);
        benchmark::DoNotOptimize(checksum(buffer.data(), got));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

BENCHMARK(ArchiveEntry)->Arg(4 << 10)->Arg(256 << 10)->Arg(4 << 20);
BENCHMARK(PlainFileRead)->Arg(4 << 10)->Arg(256 << 10)->Arg(4 << 20);

}  // namespace

BENCHMARK_MAIN();
