// Decode throughput of the worker pool on every image of pak0.pak against the same decode on one
// thread, and the main-thread cost of a texture pass against a plain glTexImage2D.
//
// Every wait has a deadline and fails the benchmark loudly when it passes. GL benchmarks report
// wall time ("Time") and the whole process's CPU time ("CPU"), since Mesa renders on threads of
// its own.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "graphics/Context.h"
#include "graphics/DecompressionQueue.h"
#include "graphics/DecompressionThread.h"
#include "graphics/ImageDecoding.h"
#include "graphics/TextureEntry.h"
#include "graphics/tests/TestImages.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWaitLimit = std::chrono::seconds(30);

// Every image of pak0.pak, with the sizes the texture table would give it.
std::vector<Graphics::TextureEntry> const& pak0Art() {
    static std::vector<Graphics::TextureEntry> const art = [] {
        std::vector<Graphics::TextureEntry> out;
        auto& fs = Singleton<FileSystem>::instance();
        auto const* pak = fs.mount((testing_support::binaryDir() / "pak0.pak").string());
        if (!pak) return out;
        std::vector<std::string> names;
        for (auto const& entry : pak->entries()) names.push_back(entry.first);
        std::sort(names.begin(), names.end());
        for (auto const& name : names) {
            auto file = fs.open(name);
            Graphics::ImageInfo info;
            if (!Graphics::readImageInfo(file->data(), size_t(file->size()), info, boost::none)) continue;
            Graphics::TextureEntry e;
            e.path = name;
            e.width = info.width;
            e.height = info.height;
            e.channels = info.channels;
            out.push_back(e);
        }
        return out;
    }();
    return art;
}

// What the scheduler says of one thread: time on a CPU and time waiting for one.
struct ThreadTimes {
    double cpu = 0.0, runqueue = 0.0;
};

ThreadTimes readSchedstat(std::string const& path) {
    ThreadTimes t;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        unsigned long long cpu = 0, wait = 0;
        if (std::fscanf(f, "%llu %llu", &cpu, &wait) == 2) t = {cpu * 1e-9, wait * 1e-9};
        std::fclose(f);
    }
    return t;
}

// The decode workers' times, summed: found by their thread names.
ThreadTimes decodeWorkerTimes() {
    ThreadTimes sum;
    for (auto const& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind("DecompThread", 0) != 0) continue;
        ThreadTimes const t = readSchedstat((task.path() / "schedstat").string());
        sum.cpu += t.cpu;
        sum.runqueue += t.runqueue;
    }
    return sum;
}

// On a busy machine the wall-time rate says more about the other processes than about the pool.
// These say how the workers spent the run: `worker_busy` is the share of it they had an image
// (decoding or ready to and waiting for a CPU), so 1 - worker_busy is what the pool itself
// lost to waits for work or areas; `cpu_ms_per_image` against the one-thread figure shows what
// decoding side by side costs in CPU.
void reportWorkerTimes(benchmark::State& state, ThreadTimes const& used, double wall, size_t images, unsigned workers) {
    if (used.cpu + used.runqueue <= 0.0 || wall <= 0.0 || images == 0) return;  // no schedstat here
    state.counters["worker_busy"] = (used.cpu + used.runqueue) / (wall * workers);
    state.counters["cpu_ms_per_image"] = 1e3 * used.cpu / double(images);
    state.counters["runqueue_share"] = used.runqueue / (used.cpu + used.runqueue);
}

void reportImages(benchmark::State& state, size_t images, unsigned workers) {
    state.SetItemsProcessed(int64_t(state.iterations() * images));
    state.counters["images_per_s_per_worker"] =
        benchmark::Counter(double(state.iterations() * images) / workers, benchmark::Counter::kIsRate);
    state.SetLabel(std::to_string(images) + " images");
}

// Baseline: the game's own open and decode of each image, one after another on one thread that
// runs at the decode workers' priority.
void BM_DecodeOnOneThread(benchmark::State& state) {
    auto const& art = pak0Art();
    if (art.empty()) return state.SkipWithError("pak0.pak not built");
    std::vector<uint8_t> out(Graphics::DecompressionQueue::kAreaBytes);
    size_t failed = 0;
    ThreadTimes used;
    auto const start = Clock::now();
    for (auto _ : state) {
        std::thread worker([&] {
            auto const tid = id_t(syscall(SYS_gettid));
            errno = 0;
            int const current = getpriority(PRIO_PROCESS, tid);
            if (errno == 0) setpriority(PRIO_PROCESS, tid, current + Graphics::DecompressionThread::niceIncrement(false));
            for (auto const& e : art) {
                auto file = Singleton<FileSystem>::instance().open(e.path);
                if (!Graphics::decodeImage(file->data(), size_t(file->size()), e.width, e.height, e.channels,
                                           out.data(), out.size()))
                    ++failed;
            }
            ThreadTimes const t = readSchedstat("/proc/thread-self/schedstat");
            used.cpu += t.cpu;
            used.runqueue += t.runqueue;
        });
        worker.join();
        benchmark::ClobberMemory();
    }
    double const wall = std::chrono::duration<double>(Clock::now() - start).count();
    if (failed) state.SkipWithError("an image of pak0 failed to decode");
    reportImages(state, art.size(), 1);
    reportWorkerTimes(state, used, wall, size_t(state.iterations()) * art.size(), 1);
}
BENCHMARK(BM_DecodeOnOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same images through the pool: queue, decode on the workers, collect and release the areas.
// `passes` runs of the set go through back to back each round; with one, the round ends on the
// last few large images decoding while the other workers wait, which is the makespan of one load
// of the whole set; with more, the figure nears the pool's steady throughput.
void poolDecode(benchmark::State& state, unsigned passes) {
    auto const& art = pak0Art();
    if (art.empty()) return state.SkipWithError("pak0.pak not built");
    unsigned const workers = unsigned(state.range(0));
    Graphics::DecompressionQueue queue(workers, false);
    std::vector<Graphics::TextureSlot> slots(art.size());
    for (size_t i = 0; i < slots.size(); ++i) slots[i].entry = art[i];
    size_t const images = slots.size() * passes;
    ThreadTimes const before = decodeWorkerTimes();
    auto const start = Clock::now();
    for (auto _ : state) {
        size_t next = 0, done = 0;
        auto const deadline = Clock::now() + kWaitLimit * passes;
        while (done < images) {
            if (Clock::now() > deadline) return state.SkipWithError("the pool did not decode the set in time");
            // Polls like a frame loop would, only often. A spinning collector, or one polling
            // every 50 us, took the CPU from the workers, which run at a lower priority; one
            // polling every 3 ms left them waiting for free areas.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            std::lock_guard<std::mutex> lock(queue.mutex());
            for (auto const& job : queue.finished()) {
                if (!job.ok) return state.SkipWithError("an image of pak0 failed to decode");
                queue.releaseArea(job.area);
            }
            done += queue.finished().size();
            queue.finished().clear();
            while (next < images && queue.queued().size() < queue.capacity()) {
                queue.queued().push_back({next, &slots[next % slots.size()]});
                ++next;
            }
            queue.wakeWorkers();
        }
    }
    double const wall = std::chrono::duration<double>(Clock::now() - start).count();
    ThreadTimes const after = decodeWorkerTimes();
    reportImages(state, images, workers);
    reportWorkerTimes(state, {after.cpu - before.cpu, after.runqueue - before.runqueue}, wall,
                      size_t(state.iterations()) * images, workers);
}

void BM_PoolDecode(benchmark::State& state) { poolDecode(state, 1); }
void BM_PoolDecodeStream(benchmark::State& state) { poolDecode(state, 4); }

void poolSizes(benchmark::internal::Benchmark* b) {
    unsigned const cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned n : {1u, 2u, 4u})
        if (n < cores) b->Arg(n);
    b->Arg(cores);
}
BENCHMARK(BM_PoolDecode)->Apply(poolSizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PoolDecodeStream)->Apply(poolSizes)->Unit(benchmark::kMillisecond)->UseRealTime();

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
BENCHMARK(BM_PlainTexImage2D)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

// Baseline with what the pass does around each upload: a new texture with the same sampler
// settings, glTexImage2D, one quad, glFinish; the texture is deleted untimed, as the pass's is
// released untimed.
void BM_PlainUploadAndDraw(benchmark::State& state) {
    GlFixture fixture;
    Graphics::Context ctx(1 << 30, boost::none, Graphics::Context::Workers{1, false});
    auto px = gfx_test::pixels(256, 256, 4);
    static float const quad[16] = {1, -1, 1, 0, 1, 1, 1, 1, -1, -1, 0, 0, -1, 1, 0, 1};
    glUseProgram(ctx.blitProgram());
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, quad);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, quad + 2);
    for (auto _ : state) {
        GLuint tex = 0;
        glGenTextures(1, &tex);
        glBindTexture(GL_TEXTURE_2D, tex);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 256, 256, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glFinish();
        state.PauseTiming();
        glDeleteTextures(1, &tex);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PlainUploadAndDraw)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

// Requests the texture and runs passes until its decode has finished and waits for the next
// pass to upload it. A worker may finish before the queuing pass returns, and that pass then
// uploads the texture itself: such a round is released and tried again under a new hash, so the
// timed pass always does the upload. False once the deadline has passed.
bool decodedAwaitingUpload(Graphics::Context& ctx, TextureDescriptor const& d, uint64_t& hash) {
    auto const deadline = Clock::now() + kWaitLimit;
    while (Clock::now() < deadline) {
        ctx.requestTexture(hash, &d);
        ctx.updateTextures();  // queues it
        bool finished = false, resident = false;
        while (!finished && !resident && Clock::now() < deadline) {
            std::this_thread::yield();
            std::lock_guard<std::mutex> lock(ctx.decodeQueue().mutex());
            auto const& jobs = ctx.decodeQueue().finished();
            finished = std::any_of(jobs.begin(), jobs.end(), [&](auto const& job) { return job.hash == hash; });
            auto const* slot = ctx.findTexture(hash);
            resident = slot && slot->entry.resident;
        }
        if (finished) return true;
        ctx.releaseTexture(hash++);
    }
    return false;
}

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
        if (!decodedAwaitingUpload(ctx, d, hash)) return state.SkipWithError("no decode finished within 30 s");
        state.ResumeTiming();
        ctx.updateTextures();  // uploads it
        glFinish();
        state.PauseTiming();
        auto const* slot = ctx.findTexture(hash);
        if (!slot || !slot->entry.resident) return state.SkipWithError("the pass did not upload the whole texture");
        ctx.releaseTexture(hash++);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TexturePassWithUpload)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

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
    auto const deadline = Clock::now() + kWaitLimit;
    while (!ctx.texturesLoaded() || ctx.pendingTextureCount() > 0) {
        if (Clock::now() > deadline) return state.SkipWithError("500 textures did not load within 30 s");
        ctx.updateTextures();
    }
    ctx.setBurstLoading(false);
    for (auto _ : state) ctx.updateTextures();
}
BENCHMARK(BM_TexturePassIdle)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
