// The main menu on Mesa's software renderer at 1280 x 720: building the whole screen (every page,
// the backdrop, the notice and the download bar) beside requesting the same texture handles
// alone, with the menu's texture bytes against the texture budget; and a frame of the menu with
// its backdrop beside a frame of the placeholder screen.
#include <benchmark/benchmark.h>

#include <GLES2/gl2.h>

#include <chrono>
#include <thread>
#include <vector>

#include "audio/tests/LoopbackDevice.h"
#include "fonts/Context.h"
#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "menus/MainMenuViewController.h"
#include "os/Assets.h"
#include "os/DummyViewController.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace {

constexpr int W = 1280, H = 720;
constexpr uint64_t kBudget = 0x9000000;

testing_support::TempDir& documents() {
    static testing_support::TempDir dir;
    return dir;
}

testing_support::GlTestContext& gl() {
    static testing_support::GlTestContext context(W, H);
    static bool const ready = [] {
        Singleton<FileSystem>::instance().mount((testing_support::binaryDir() / "pak0.pak").string());
        platform_services::setScreenSizes(1280, 720, W, H);
        setenv("ZELV_DOCUMENTS_DIR", (documents().path().string() + "/").c_str(), 1);
        shell_services::setDownloadState(0);  // still downloading: the download bar is built too
        return true;
    }();
    (void)ready;
    context.bindTarget();
    return context;
}

struct Rig {
    Rig() : graphics(kBudget, boost::none), shader(&graphics), fonts(&graphics, "fonts/", "en_US") {}
    std::unique_ptr<MainMenuViewController> make() {
        return std::make_unique<MainMenuViewController>(&graphics, &sound.context, &fonts, startLevel, nullptr);
    }
    bool load() {
        auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        graphics.setBurstLoading(true);
        // The flag answers for the last pass: new requests need one more.
        do {
            graphics.updateTextures();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } while (!graphics.texturesLoaded() && std::chrono::steady_clock::now() < deadline);
        return graphics.texturesLoaded();
    }
    void begin() {
        gl();
        glViewport(0, 0, W, H);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    audio_test::LoopbackContext sound;
    Graphics::Context graphics;
    Graphics::StandardShader shader;
    Fonts::Context fonts;
    MainMenuViewController::StartLevel startLevel = [](std::string const&, std::string const&, bool, bool, bool) {};
};

// The asset-table textures a built main menu holds that were not held before it.
std::vector<TextureDescriptor const*> menuTextures(Rig& rig) {
    std::vector<bool> before;
    for (auto const& d : Assets::textures)
        before.push_back(!d.path.empty() && rig.graphics.findTexture(Graphics::Context::hashName(d.path)) != nullptr);
    auto menu = rig.make();
    std::vector<TextureDescriptor const*> held;
    size_t i = 0;
    for (auto const& d : Assets::textures)
        if (!before[i++] && !d.path.empty() && rig.graphics.findTexture(Graphics::Context::hashName(d.path)))
            held.push_back(&d);
    return held;
}

void BM_MainMenuConstruction(benchmark::State& state) {
    gl();
    Rig rig;
    uint64_t const fontBytes = rig.load() ? rig.graphics.usedTextureBytes() : 0;
    uint64_t bytes = 0;
    {
        auto menu = rig.make();
        if (!rig.load()) return state.SkipWithError("the main menu's textures did not load within 30 s");
        bytes = rig.graphics.usedTextureBytes() - fontBytes;
    }
    for (auto _ : state) {
        auto menu = rig.make();
        benchmark::DoNotOptimize(menu.get());
    }
    state.counters["textureBytes"] = double(bytes);
    state.counters["budgetShare"] = double(bytes) / double(kBudget);
}
BENCHMARK(BM_MainMenuConstruction)->Unit(benchmark::kMicrosecond);

void BM_SameTextureHandlesAlone(benchmark::State& state) {
    gl();
    Rig rig;
    std::vector<TextureDescriptor const*> const held = menuTextures(rig);
    std::vector<Graphics::Texture> handles;
    handles.reserve(held.size());
    for (auto _ : state) {
        for (auto const* d : held) handles.emplace_back(&rig.graphics, *d);
        handles.clear();
    }
    state.counters["textures"] = double(held.size());
}
BENCHMARK(BM_SameTextureHandlesAlone)->Unit(benchmark::kMicrosecond);

void BM_MainMenuFrameWithBackground(benchmark::State& state) {
    gl();
    Rig rig;
    auto menu = rig.make();
    if (!rig.load()) return state.SkipWithError("the main menu's textures did not load within 30 s");
    auto frame = [&] {
        rig.begin();
        menu->update(rig.sound.context, 16.0f, 0.0f);
        menu->preDraw(&rig.graphics);
        menu->draw(&rig.graphics, &rig.shader);
        menu->drawOverlay(&rig.graphics, &rig.shader);
        glFinish();
    };
    // The start page open and every program compiled.
    for (int i = 0; i < 100; ++i) frame();
    for (auto _ : state) frame();
}
BENCHMARK(BM_MainMenuFrameWithBackground)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_DummyScreenFrame(benchmark::State& state) {
    gl();
    Rig rig;
    DummyViewController dummy;
    for (auto _ : state) {
        rig.begin();
        dummy.update(rig.sound.context, 16.0f, 0.0f);
        dummy.preDraw(&rig.graphics);
        dummy.draw(&rig.graphics, &rig.shader);
        dummy.drawOverlay(&rig.graphics, &rig.shader);
        glFinish();
    }
}
BENCHMARK(BM_DummyScreenFrame)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
