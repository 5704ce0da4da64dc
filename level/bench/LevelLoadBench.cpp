// Loading a level against zlib's uncompress of the same file alone (into a buffer that is not
// zero-filled first, as the loader's is not): the parse should cost well under the inflate.
// The loader inflates with libdeflate; that inflate alone is a second baseline, so the parse's
// own share stays visible.
// Levels: the largest level of pak0.pak, and one of more than 1 MiB inflated made from it by
// repeating its records.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "level/LevelReader.h"
#include "level/LevelWriter.h"
#include "os/FileSystem.h"
#include "testing/TestPaths.h"

namespace {

uint32_t declaredSize(std::vector<uint8_t> const& file) {
    return file.size() < 4 ? 0 : file[0] | file[1] << 8 | file[2] << 16 | uint32_t(file[3]) << 24;
}

std::vector<uint8_t> const& largestSampleLevel() {
    static std::vector<uint8_t> const largest = [] {
        std::vector<uint8_t> best;
        FileSystem fs;
        auto const* pak = fs.mount((testing_support::binaryDir() / "pak0.pak").string());
        if (!pak) return best;
        for (auto const& entry : pak->entries()) {
            if (FileSystem::extension(entry.first) != ".pxl") continue;
            auto f = fs.open(entry.first);
            std::vector<uint8_t> bytes(f->data(), f->data() + f->size());
            if (declaredSize(bytes) > declaredSize(best)) best = std::move(bytes);
        }
        return best;
    }();
    return largest;
}

// Copies of the sample's geometry and objects, each moved along by its own offset as a longer
// level's would be: exact repeats would inflate unrealistically fast.
std::vector<uint8_t> const& largeLevel() {
    static std::vector<uint8_t> const large = [] {
        auto const& sample = largestSampleLevel();
        PristineLevel::Data level;
        PristineLevel::loadPristineLevel(level, sample.data(), sample.size());
        PristineLevel::Data const one = level;
        auto repeat = [](auto& into, auto const& from, auto&& move) {
            for (auto item : from) {
                move(item);
                into.push_back(std::move(item));
            }
        };
        for (float offset = 16.0f; PristineLevel::savePristineLevelArchive(level).size() < (1u << 20); offset += 16.0f) {
            auto shiftFloats = [offset](PristineLevel::BufferData& b) {
                for (size_t i = 0; i + 4 <= b.bytes.size(); i += 4) {
                    float f;
                    std::memcpy(&f, &b.bytes[i], 4);
                    if (std::isfinite(f) && f != 0.0f) f += offset;
                    std::memcpy(&b.bytes[i], &f, 4);
                }
            };
            auto shiftNode = [offset](PristineLevel::MeshNode& n) {
                n.box.min += offset;
                n.box.max += offset;
            };
            auto keep = [](auto&) {};
            repeat(level.meshSet.vertexBuffers, one.meshSet.vertexBuffers, shiftFloats);
            repeat(level.meshSet.indexBuffers, one.meshSet.indexBuffers, keep);
            repeat(level.meshSet.arrayMeshes, one.meshSet.arrayMeshes, keep);
            repeat(level.meshSet.indexedMeshes, one.meshSet.indexedMeshes, keep);
            repeat(level.meshSet.nodes, one.meshSet.nodes, shiftNode);
            repeat(level.staticShapes, one.staticShapes, keep);
            repeat(level.dynamicBodies, one.dynamicBodies, keep);
            repeat(level.coins, one.coins, [offset](PristineLevel::Coin& c) { c.center += offset; });
        }
        return PristineLevel::savePristineLevel(level);
    }();
    return large;
}

std::vector<uint8_t> const& levelFor(benchmark::State const& state) {
    return state.range(0) == 0 ? largestSampleLevel() : largeLevel();
}

void label(benchmark::State& state, std::vector<uint8_t> const& file) {
    state.SetBytesProcessed(int64_t(state.iterations()) * declaredSize(file));
    state.SetLabel(std::to_string(declaredSize(file) >> 10) + " KiB inflated");
}

void BM_UncompressOnly(benchmark::State& state) {
    auto const& file = levelFor(state);
    if (file.empty()) return state.SkipWithError("pak0.pak not built");
    uint32_t const size = declaredSize(file);
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> out(new uint8_t[size]);
        uLongf produced = size;
        uncompress(out.get(), &produced, file.data() + 4, static_cast<uLong>(file.size() - 4));
        benchmark::DoNotOptimize(out.get());
    }
    label(state, file);
}
BENCHMARK(BM_UncompressOnly)->Arg(0)->Arg(1);

void BM_LibdeflateOnly(benchmark::State& state) {
    auto const& file = levelFor(state);
    if (file.empty()) return state.SkipWithError("pak0.pak not built");
    uint32_t const size = declaredSize(file);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> out(new uint8_t[size]);
        size_t produced = 0;
        libdeflate_zlib_decompress(d, file.data() + 4, file.size() - 4, out.get(), size, &produced);
        benchmark::DoNotOptimize(out.get());
    }
    libdeflate_free_decompressor(d);
    label(state, file);
}
BENCHMARK(BM_LibdeflateOnly)->Arg(0)->Arg(1);

void BM_LoadPristineLevel(benchmark::State& state) {
    auto const& file = levelFor(state);
    if (file.empty()) return state.SkipWithError("pak0.pak not built");
    for (auto _ : state) {
        PristineLevel::Data level;
        PristineLevel::loadPristineLevel(level, file.data(), file.size());
        benchmark::DoNotOptimize(level.meshSet.nodes.data());
    }
    label(state, file);
}
BENCHMARK(BM_LoadPristineLevel)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
