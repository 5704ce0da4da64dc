// Loading the largest sample level against zlib's inflate of the same file alone: the parse
// should cost less than the inflate.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "level/LevelReader.h"
#include "testing/TestPaths.h"

namespace {

std::vector<uint8_t> const& largestSampleLevel() {
    static std::vector<uint8_t> const largest = [] {
        std::vector<uint8_t> best;
        uint32_t bestSize = 0;
        auto const folder = testing_support::sourceDir() / "level/fuzz/corpus/level_file_fuzzer";
        for (auto const& entry : std::filesystem::directory_iterator(folder)) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (bytes.size() < 4) {
                continue;
            }
            uint32_t const size = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24;
            if (size > bestSize) {
                bestSize = size;
                best = std::move(bytes);
            }
        }
        return best;
    }();
    return largest;
}

void BM_UncompressOnly(benchmark::State& state) {
    auto const& file = largestSampleLevel();
    uint32_t const size = file[0] | file[1] << 8 | file[2] << 16 | uint32_t(file[3]) << 24;
    for (auto _ : state) {
        std::vector<uint8_t> out(size);
        uLongf produced = size;
        uncompress(out.data(), &produced, file.data() + 4, static_cast<uLong>(file.size() - 4));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}
BENCHMARK(BM_UncompressOnly);

void BM_LoadPristineLevel(benchmark::State& state) {
    auto const& file = largestSampleLevel();
    uint32_t const size = file[0] | file[1] << 8 | file[2] << 16 | uint32_t(file[3]) << 24;
    for (auto _ : state) {
        PristineLevel::Data level;
        PristineLevel::loadPristineLevel(level, file.data(), file.size());
        benchmark::DoNotOptimize(level.meshSet.nodes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}
BENCHMARK(BM_LoadPristineLevel);

}  // namespace

BENCHMARK_MAIN();
