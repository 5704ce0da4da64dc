// Encoding and decoding a full save record (every level of the catalog with results), each beside
// a brute-force baseline in the same run: the same fields copied by hand into a flat buffer and
// through the same zlib calls. The ratio is the cost of the archive library's machinery.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "save/RoamingData.h"

namespace {

constexpr uint32_t kLevels = 24;

RoamingData fullRecord(uint64_t seed) {
    RoamingData r(false);
    for (uint32_t level = 0; level < kLevels; ++level) {
        RoamingData::LevelEntry& e = r.levelEntry(level);
        e.goalFlags() = static_cast<uint8_t>((level + seed) % 8);
        e.best() = 20000 + level * 731 + seed;
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

std::vector<uint8_t> flatEncode(RoamingData const& r) {
    std::vector<uint8_t> raw(36 + 20 + 4 + r.levelEntries().size() * 13 + 17);
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
    RoamingData const r = fullRecord(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(r.save());
    }
}
BENCHMARK(BM_EncodeCompress);

void BM_EncodeCompressBaseline(benchmark::State& state) {
    RoamingData const r = fullRecord(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(flatEncode(r));
    }
}
BENCHMARK(BM_EncodeCompressBaseline);

void BM_DecodeMerge(benchmark::State& state) {
    std::vector<uint8_t> const fileBlob = fullRecord(1).save();
    RoamingData cloud = fullRecord(2);
    for (auto _ : state) {
        RoamingData file(false);
        file.load(fileBlob.data(), fileBlob.size());
        RoamingData copy = cloud;
        RoamingData::merge(file, copy);
        benchmark::DoNotOptimize(file);
    }
}
BENCHMARK(BM_DecodeMerge);

void BM_DecodeMergeBaseline(benchmark::State& state) {
    RoamingData const r = fullRecord(1);
    std::vector<uint8_t> const blob = flatEncode(r);
    size_t const rawSize = 36 + 20 + 4 + kLevels * 13 + 17;
    std::vector<Flat> const other = flatDecode(flatEncode(fullRecord(2)), rawSize);
    for (auto _ : state) {
        std::vector<Flat> mine = flatDecode(blob, rawSize);
        for (size_t i = 0; i < mine.size(); ++i) {
            mine[i].goals |= other[i].goals;
            if (other[i].best != 0 && (mine[i].best == 0 || other[i].best < mine[i].best)) {
                mine[i].best = other[i].best;
            }
        }
        benchmark::DoNotOptimize(mine);
    }
}
BENCHMARK(BM_DecodeMergeBaseline);

}  // namespace

BENCHMARK_MAIN();
