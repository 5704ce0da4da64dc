// One 1280 x 720 frame on Mesa's software renderer through the post-processing passes, against
// the bare frame of a clear and a finished present. Variants: the plain composite with colour
// grading, a frame over a captured blurred backdrop (a pause screen), and a frame that takes
// the capture (scene copy and two blur passes).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "graphics/StandardShader.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

struct Rig {
    testing_support::GlTestContext gl{kWidth, kHeight};
    std::unique_ptr<Graphics::Context> ctx;
    std::unique_ptr<Graphics::StandardShader> shader;
    std::unique_ptr<PostProcessingStep> pp;

    Rig() {
        setenv("MESA_GLES_VERSION_OVERRIDE", "2.0", 0);
        Singleton<FileSystem>::instance().mount((testing_support::binaryDir() / "pak0.pak").string());
        gl.bindTarget();
        ctx = std::make_unique<Graphics::Context>(1 << 30, boost::none, Graphics::Context::Workers{1, true});
        shader = std::make_unique<Graphics::StandardShader>(ctx.get());
        pp = std::make_unique<PostProcessingStep>(ctx.get(), glm::ivec2(kWidth, kHeight), glm::ivec2(kWidth, kHeight),
                                                  true);
    }

    void sceneDraw() {
        glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    void frame() {
        pp->update(16);
        pp->updateColors();
        pp->drawBackdrop(ctx.get(), shader.get());
        if (!pp->hasCapture()) sceneDraw();
        pp->present(ctx.get(), shader.get());
        glFinish();
    }
};

Rig& rig() {
    static Rig r;
    return r;
}

void BM_BareClearAndPresent(benchmark::State& state) {
    Rig& r = rig();
    r.pp->releaseCapture();
    for (auto _ : state) {
        r.ctx->bindDefaultFramebuffer();
        r.sceneDraw();
        glFinish();
    }
}
BENCHMARK(BM_BareClearAndPresent)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_PostProcessingFrame(benchmark::State& state) {
    Rig& r = rig();
    r.pp->releaseCapture();
    r.pp->fadeColor(glm::vec3(0.9f), glm::vec3(0.9f), 1);
    r.pp->fadeAddColor(glm::vec3(0.05f), glm::vec3(0.05f), 1);
    for (auto _ : state) r.frame();
}
BENCHMARK(BM_PostProcessingFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_PostProcessingFrameOverBackdrop(benchmark::State& state) {
    Rig& r = rig();
    r.pp->requestCapture();
    r.frame();
    r.pp->startBackdropFadeIn();
    r.pp->setMonochromeAmount(0.5f);
    for (auto _ : state) r.frame();
    r.pp->setMonochromeAmount(1.0f);
    r.pp->releaseCapture();
}
BENCHMARK(BM_PostProcessingFrameOverBackdrop)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_PostProcessingFrameTakingCapture(benchmark::State& state) {
    Rig& r = rig();
    for (auto _ : state) {
        r.pp->releaseCapture();
        r.pp->requestCapture();
        r.frame();
    }
    r.pp->releaseCapture();
}
BENCHMARK(BM_PostProcessingFrameTakingCapture)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
