// Decode throughput of the worker pool against libpng's and libwebp's own single-image decode of
// the same files, and the main-thread cost of a texture pass against a plain glTexImage2D.
#include <benchmark/benchmark.h>
#include <png.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include <cstring>
#include <mutex>
#include <thread>

#include "graphics/Context.h"
#include "graphics/DecompressionQueue.h"
#include "graphics/TextureEntry.h"
#include "graphics/tests/TestImages.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace {

struct Sample {
    std::string path;
    gfx_test::Bytes bytes;
    uint16_t width, height;
    uint8_t channels;
    bool webp;
};

gfx_test::Bytes lossyWebp(int w, int h, int channels) {
    auto px = gfx_test::pixels(w, h, channels);
    uint8_t* out = nullptr;
    size_t n = channels == 4 ? WebPEncodeRGBA(px.data(), w, h, w * 4, 75, &out)
                             : WebPEncodeRGB(px.data(), w, h, w * 3, 75, &out);
    gfx_test::Bytes bytes(out, out + n);
    WebPFree(out);
    return bytes;
}

// A fixed set like a screen's art: PNGs of several layouts and sizes, lossy and lossless WebPs.
std::vector<Sample> const& samples() {
    static testing_support::TempDir dir;
    static std::vector<Sample> const all = [] {
        std::vector<Sample> s;
        auto add = [&](std::string name, gfx_test::Bytes bytes, int w, int h, int c, bool webp) {
            auto path = (dir / name).string();
            gfx_test::writeFile(path, bytes);
            s.push_back(Sample{path, std::move(bytes), uint16_t(w), uint16_t(h), uint8_t(c), webp});
        };
        add("a.png", gfx_test::png(512, 512, 4), 512, 512, 4, false);
        add("b.png", gfx_test::png(256, 256, 3), 256, 256, 3, false);
        add("c.png", gfx_test::png(512, 256, 1), 512, 256, 1, false);
        add("d.png", gfx_test::png(300, 200, 2), 300, 200, 2, false);
        add("e.webp", lossyWebp(512, 512, 3), 512, 512, 3, true);
        add("f.webp", lossyWebp(256, 256, 4), 256, 256, 4, true);
        add("g.webp", gfx_test::webp(256, 256, 4), 256, 256, 4, true);
        add("h.webp", gfx_test::webp(400, 300, 3), 400, 300, 3, true);
        return s;
    }();
    return all;
}

void decodeDirect(Sample const& s, uint8_t* out) {
    if (s.webp) {
        // The same decoder options the game uses, so both sides do the same work.
        size_t const stride = size_t(s.width) * s.channels;
        WebPDecoderConfig config;
        WebPInitDecoderConfig(&config);
        config.output.colorspace = s.channels == 4 ? MODE_RGBA : MODE_RGB;
        config.options.bypass_filtering = 1;
        config.options.no_fancy_upsampling = 1;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = out;
        config.output.u.RGBA.stride = int(stride);
        config.output.u.RGBA.size = stride * s.height;
        WebPDecode(s.bytes.data(), s.bytes.size(), &config);
        WebPFreeDecBuffer(&config.output);
        return;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&image, s.bytes.data(), s.bytes.size());
    image.format = s.channels == 1 ? PNG_FORMAT_GRAY
                   : s.channels == 2 ? PNG_FORMAT_GA
                   : s.channels == 3 ? PNG_FORMAT_RGB
                                     : PNG_FORMAT_RGBA;
    png_image_finish_read(&image, nullptr, out, 0, nullptr);
    png_image_free(&image);
}

// Baseline: the libraries' own calls, one image after another on this thread.
void BM_LibraryDecode(benchmark::State& state) {
    samples();  // encoding the set is not part of the figure
    std::vector<uint8_t> out(Graphics::DecompressionQueue::kAreaBytes);
    for (auto _ : state) {
        for (auto const& s : samples()) decodeDirect(s, out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations() * samples().size()));
}
BENCHMARK(BM_LibraryDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same images through the pool: queue, decode on the workers, collect and release the areas.
void BM_PoolDecode(benchmark::State& state) {
    unsigned const workers = unsigned(state.range(0));
    Graphics::DecompressionQueue queue(workers, false);
    std::vector<Graphics::TextureSlot> slots(samples().size());
    for (size_t i = 0; i < slots.size(); ++i) {
        auto const& s = samples()[i];
        slots[i].entry.path = s.path;
        slots[i].entry.width = s.width;
        slots[i].entry.height = s.height;
        slots[i].entry.channels = s.channels;
    }
    for (auto _ : state) {
        size_t next = 0, done = 0;
        while (done < slots.size()) {
            std::this_thread::yield();
            std::lock_guard<std::mutex> lock(queue.mutex());
            for (auto const& job : queue.finished()) {
                if (!job.ok) state.SkipWithError("a sample failed to decode");
                queue.releaseArea(job.area);
            }
            done += queue.finished().size();
            queue.finished().clear();
            while (next < slots.size() && queue.queued().size() < queue.capacity()) {
                queue.queued().push_back({next, &slots[next]});
                ++next;
            }
            queue.wakeWorkers();
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations() * samples().size()));
    state.counters["workers"] = workers;
}
BENCHMARK(BM_PoolDecode)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

struct GlFixture {
    testing_support::GlTestContext gl{64, 64};
    GlFixture() { gl.bindTarget(); }
};

// Baseline for the upload: one glTexImage2D of a 256 x 256 RGBA image.
void BM_PlainTexImage2D(benchmark::State& state) {
    GlFixture fixture;
    auto px = gfx_test::pixels(256, 256, 4);
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    for (auto _ : state) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 256, 256, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        glFinish();
    }
    glDeleteTextures(1, &tex);
}
BENCHMARK(BM_PlainTexImage2D)->Unit(benchmark::kMicrosecond);

// Baseline with the draw the pass makes after each upload: glTexImage2D, one quad, glFinish.
void BM_PlainUploadAndDraw(benchmark::State& state) {
    GlFixture fixture;
    Graphics::Context ctx(1 << 30, boost::none, Graphics::Context::Workers{1, false});
    auto px = gfx_test::pixels(256, 256, 4);
    static float const quad[16] = {1, -1, 1, 0, 1, 1, 1, 1, -1, -1, 0, 0, -1, 1, 0, 1};
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glUseProgram(ctx.blitProgram());
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, quad);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, quad + 2);
    for (auto _ : state) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 256, 256, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glFinish();
    }
    glDeleteTextures(1, &tex);
}
BENCHMARK(BM_PlainUploadAndDraw)->Unit(benchmark::kMicrosecond);

// One texture pass that uploads a decoded 256 x 256 RGBA image (decoding happens untimed).
void BM_TexturePassWithUpload(benchmark::State& state) {
    GlFixture fixture;
    Graphics::Context ctx(1 << 30, boost::none);
    static testing_support::TempDir dir;
    auto path = (dir / "up.png").string();
    gfx_test::writeFile(path, gfx_test::png(256, 256, 4));
    TextureDescriptor const d(path, TextureOptions(), 2);
    uint64_t hash = 1;
    for (auto _ : state) {
        state.PauseTiming();
        ctx.requestTexture(hash, &d);
        ctx.updateTextures();  // queues it
        for (bool done = false; !done; std::this_thread::yield()) {
            std::lock_guard<std::mutex> lock(ctx.decodeQueue().mutex());
            done = !ctx.decodeQueue().finished().empty();
        }
        state.ResumeTiming();
        ctx.updateTextures();  // uploads it
        glFinish();
        state.PauseTiming();
        ctx.releaseTexture(hash++);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TexturePassWithUpload)->Unit(benchmark::kMicrosecond);

// A pass with 500 resident textures and nothing to do: the per-frame overhead.
void BM_TexturePassIdle(benchmark::State& state) {
    GlFixture fixture;
    Graphics::Context ctx(1 << 30, boost::none);
    static testing_support::TempDir dir;
    auto path = (dir / "small.png").string();
    gfx_test::writeFile(path, gfx_test::png(8, 8, 4));
    TextureDescriptor const d(path, TextureOptions(), 2);
    for (uint64_t i = 0; i < 500; ++i) ctx.requestTexture(i * 7919, &d);
    ctx.setBurstLoading(true);
    while (!ctx.texturesLoaded() || ctx.pendingTextureCount() > 0) ctx.updateTextures();
    ctx.setBurstLoading(false);
    for (auto _ : state) ctx.updateTextures();
}
BENCHMARK(BM_TexturePassIdle)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
