// The app frame's own cost per tick with the placeholder screen, beside the same calls made
// directly; and signal delivery beside calling the callbacks directly.
#include <benchmark/benchmark.h>

#include "os/tests/FakeAppImpl.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace {

testing_support::GlTestContext& gl() {
    static testing_support::GlTestContext context(16, 16);
    return context;
}

void BM_AppFrameTick(benchmark::State& state) {
    gl();
    fake::reset();
    fake::logging = false;
    auto app = fake::App::create();
    app->init(0, nullptr);
    for (auto _ : state) {
        fake::platform.now += 16;
        app->tick();
    }
}
BENCHMARK(BM_AppFrameTick)->UseRealTime()->MeasureProcessCPUTime();

// Baseline: the same context and screen calls written out by hand.
void BM_DirectFrameCalls(benchmark::State& state) {
    gl();
    fake::reset();
    fake::logging = false;
    Audio::Context audio({0.001f, 0xD004u, 15.0f, 15.0f});
    Graphics::Context graphics(0x9000000, boost::none);
    Graphics::StandardShader shader(&graphics);
    fake::PostProcessing post(&graphics, {1280, 720}, {1334, 750}, true);
    std::unique_ptr<ViewController> screen = std::make_unique<DummyViewController>();
    EventHandler events;
    for (auto _ : state) {
        fake::platform.now += 16;
        events.dispatch();
        screen->update(audio, 16.0f, float(fake::platform.now));
        audio.update(16.0f);
        post.update(16.0f);
        graphics.updateTextures();
        graphics.beginDynamicBuffers();
        screen->preDraw(&graphics);
        graphics.endDynamicBuffers();
        post.updateColors();
        screen->draw(&graphics, &shader);
        post.drawBackdrop(&graphics, &shader);
        screen->drawOverlay(&graphics, &shader);
        post.present(&graphics, &shader);
    }
}
BENCHMARK(BM_DirectFrameCalls)->UseRealTime()->MeasureProcessCPUTime();

// 64 queued signals over 16 ids with 4 subscribers each.
void BM_SignalDispatch(benchmark::State& state) {
    EventHandler events;
    uint64_t sum = 0;
    std::vector<SlotCallbackRef> slots;
    slots.reserve(64);
    for (uint32_t i = 0; i < 64; ++i) slots.emplace_back(&events, 20000000 + i % 16, [&sum, i] { sum += i; });
    for (auto _ : state) {
        for (uint32_t i = 0; i < 64; ++i) events.trigger(20000000 + (i * 7) % 16);
        events.dispatch();
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_SignalDispatch);

// Baseline: the same 256 callback calls from a flat table.
void BM_DirectCallbacks(benchmark::State& state) {
    uint64_t sum = 0;
    std::vector<std::function<void()>> table[16];
    for (uint32_t i = 0; i < 64; ++i) table[i % 16].push_back([&sum, i] { sum += i; });
    for (auto _ : state) {
        for (uint32_t i = 0; i < 64; ++i)
            for (auto& f : table[(i * 7) % 16]) f();
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_DirectCallbacks);

}  // namespace

int main(int argc, char** argv) {
    testing_support::pinGlDriver();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
