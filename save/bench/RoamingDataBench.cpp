// Encoding and decoding a save record, each beside a brute-force baseline in the same run: the
// same fields copied by hand into a flat buffer and through the same zlib calls, and the same
// merge (copy of the cloud record, lookup by level, both copies left equal). The ratio is the
// cost of the archive library's machinery. Records: the game's own (every level of the catalog
// with results) and one of 512 entries, where zlib's set-up no longer dominates.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "save/RoamingData.h"

namespace {

constexpr uint32_t kLevels = 24;
constexpr uint32_t kLargeRecord = 512;

RoamingData fullRecord(uint64_t seed, uint32_t levels) {
    RoamingData r(false);
    for (uint32_t level = 0; level < levels; ++level) {
        RoamingData::LevelEntry& e = r.levelEntry(level);
        // Results that vary as players' do: a regular pattern sends level-9 deflate into its
        // slowest case, which is neither side's cost.
        uint64_t const mix = (level + 1) * 0x9E3779B97F4A7C15ull ^ seed;
        e.goalFlags() = static_cast<uint8_t>(mix >> 61);
        e.best() = 20000 + (mix >> 40) % 400000;
    }
    r.setHardcoreBestTime(900000 + seed);
    r.setNoticeFlags(1);
    r.setControlScheme(1);
    r.commit();
    return r;
}

struct Flat {
    uint8_t goals;
    uint32_t level;
    uint64_t best;
};

size_t flatSize(size_t levels) { return 36 + 20 + 4 + levels * 13 + 17; }

std::vector<uint8_t> flatEncode(RoamingData const& r) {
    std::vector<uint8_t> raw(flatSize(r.levelEntries().size()));
    size_t at = 56;
    uint32_t n = static_cast<uint32_t>(r.levelEntries().size());
    std::memcpy(&raw[at], &n, 4);
    at += 4;
    for (auto const& e : r.levelEntries()) {
        raw[at] = e.goalFlags();
        uint32_t id = e.levelId();
        uint64_t best = e.best();
        std::memcpy(&raw[at + 1], &id, 4);
        std::memcpy(&raw[at + 5], &best, 8);
        at += 13;
    }
    uLongf len = compressBound(raw.size());
    std::vector<uint8_t> blob(len + 4);
    compress2(blob.data() + 4, &len, raw.data(), raw.size(), 9);
    blob.resize(len + 4);
    return blob;
}

std::vector<Flat> flatDecode(std::vector<uint8_t> const& blob, size_t rawSize) {
    std::vector<uint8_t> raw(rawSize);
    uLongf len = rawSize;
    uncompress(raw.data(), &len, blob.data() + 4, blob.size() - 4);
    uint32_t n = 0;
    std::memcpy(&n, &raw[56], 4);
    std::vector<Flat> out;
    out.reserve(n);
    for (size_t i = 0, at = 60; i < n; ++i, at += 13) {
        Flat f{raw[at], 0, 0};
        std::memcpy(&f.level, &raw[at + 1], 4);
        std::memcpy(&f.best, &raw[at + 5], 8);
        out.push_back(f);
    }
    return out;
}

void BM_EncodeCompress(benchmark::State& state) {
    RoamingData const r = fullRecord(1, uint32_t(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(r.save());
    }
}
BENCHMARK(BM_EncodeCompress)->Arg(kLevels)->Arg(kLargeRecord);

void BM_EncodeCompressBaseline(benchmark::State& state) {
    RoamingData const r = fullRecord(1, uint32_t(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(flatEncode(r));
    }
}
BENCHMARK(BM_EncodeCompressBaseline)->Arg(kLevels)->Arg(kLargeRecord);

void BM_DecodeMerge(benchmark::State& state) {
    uint32_t const levels = uint32_t(state.range(0));
    std::vector<uint8_t> const fileBlob = fullRecord(1, levels).save();
    RoamingData cloud = fullRecord(2, levels);
    for (auto _ : state) {
        RoamingData file(false);
        file.load(fileBlob.data(), fileBlob.size());
        RoamingData copy = cloud;
        RoamingData::merge(file, copy);
        benchmark::DoNotOptimize(file);
    }
}
BENCHMARK(BM_DecodeMerge)->Arg(kLevels)->Arg(kLargeRecord);

void BM_DecodeMergeBaseline(benchmark::State& state) {
    uint32_t const levels = uint32_t(state.range(0));
    std::vector<uint8_t> const blob = flatEncode(fullRecord(1, levels));
    size_t const rawSize = flatSize(levels);
    std::vector<Flat> const cloud = flatDecode(flatEncode(fullRecord(2, levels)), rawSize);
    for (auto _ : state) {
        std::vector<Flat> mine = flatDecode(blob, rawSize);
        std::vector<Flat> theirs = cloud;
        for (Flat const& e : theirs) {
            auto it = std::lower_bound(mine.begin(), mine.end(), e.level,
                                       [](Flat const& f, uint32_t level) { return f.level < level; });
            if (it == mine.end() || it->level != e.level) it = mine.insert(it, Flat{0, e.level, 0});
            it->goals |= e.goals;
            if (e.best != 0 && (it->best == 0 || e.best < it->best)) it->best = e.best;
        }
        theirs = mine;  // both copies end equal
        benchmark::DoNotOptimize(theirs);
        benchmark::DoNotOptimize(mine);
    }
}
BENCHMARK(BM_DecodeMergeBaseline)->Arg(kLevels)->Arg(kLargeRecord);

}  // namespace

BENCHMARK_MAIN();
