// Decoding every sample sound through the bank (file lookup, decode, OpenAL upload, release)
// against opusfile's own decode of the same files, opened through the file system on both sides.
#include <benchmark/benchmark.h>

#include <opusfile.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "audio/Context.h"
#include "os/Assets.h"
#include "os/FileSystem.h"
#include "testing/TestPaths.h"

namespace {

bool mounted() {
    static bool const ok = [] {
        auto pak = testing_support::binaryDir() / "pak0.pak";
        return Singleton<FileSystem>::instance().mount(pak.string()) != nullptr;
    }();
    return ok;
}

void BM_DecodeThroughBank(benchmark::State& state) {
    if (!mounted()) return state.SkipWithError("pak0.pak not built");
    setenv("ALSOFT_DRIVERS", "null", 0);
    Audio::Context ctx({0.001f, 0xD004, 15.058824f, 15.058824f});
    for (auto _ : state) {
        for (SoundDescriptor const& d : Assets::sounds) {
            uint64_t hash = ctx.hashName(d.path);
            benchmark::DoNotOptimize(ctx.acquireBuffer(hash, d.path.c_str()));
            ctx.releaseBuffer(hash, nullptr, nullptr);
        }
    }
}
BENCHMARK(BM_DecodeThroughBank)->Unit(benchmark::kMillisecond);

void BM_DecodeWithOpusfile(benchmark::State& state) {
    if (!mounted()) return state.SkipWithError("pak0.pak not built");
    FileSystem& fs = Singleton<FileSystem>::instance();
    for (auto _ : state) {
        // Opened here, as the bank opens each sound when it is acquired.
        for (SoundDescriptor const& d : Assets::sounds) {
            auto const f = fs.open(d.path);
            int error = 0;
            OggOpusFile* of = op_open_memory(f->data(), f->size(), &error);
            if (!of) continue;
            int64_t total = op_pcm_total(of, -1);
            int channels = op_channel_count(of, -1);
            std::vector<opus_int16> pcm(size_t(total) * channels);
            int64_t pos = 0;
            int n;
            while (pos < total && (n = op_read(of, pcm.data() + pos * channels, int((total - pos) * channels), nullptr)) > 0)
                pos += n;
            benchmark::DoNotOptimize(pcm.data());
            op_free(of);
        }
    }
}
BENCHMARK(BM_DecodeWithOpusfile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
