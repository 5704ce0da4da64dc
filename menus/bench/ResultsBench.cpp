// The results board's busiest frame (rows sliding, stars and bursts running, every label) beside
// the end-of-level backdrop alone on Mesa's software renderer at 1280 x 720; and the start page's
// per-frame hardcore test (a save accessor: lock, read, parse) beside a plain read of the file.
#include <benchmark/benchmark.h>

#include <GLES2/gl2.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "audio/tests/LoopbackDevice.h"
#include "fonts/Context.h"
#include "graphics/Context.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/Sprite.h"
#include "graphics/StandardShader.h"
#include "menus/MainMenuStartMenu.h"
#include "menus/ResultsMenu.h"
#include "menus/TriggerVariant.h"
#include "os/Assets.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"
#include "save/RoamingDataFile.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace {

constexpr int W = 1280, H = 720;

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
        return true;
    }();
    (void)ready;
    context.bindTarget();
    return context;
}

struct Rig {
    Rig() : graphics(1 << 30, boost::none), shader(&graphics), fonts(&graphics, "fonts/", "en_US") {
        backdrop.emplace(Graphics::Texture(&graphics, Assets::texMenusBackgroundsWoodplate), kAnchorBottomLeft,
                         glm::vec2(0.0f), glm::vec2(1280.0f, 720.0f), glm::vec2(1.0f));
        TriggerVariant const result(ResultsMenu::NormalGameModeTriggerParameters(3, 3, 0, 1000.0f, 0));
        board.emplace(&graphics, &sound.context, &fonts, GameMode::Normal, nullptr, "levels/level01.pxl",
                      [] { return true; }, [] { return true; }, result);
        board->trigger(result, [] {}, ResultsMenu::kAnimated);
        auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!graphics.texturesLoaded() && std::chrono::steady_clock::now() < deadline) {
            graphics.updateTextures();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        loaded = graphics.texturesLoaded();
        // The third row has just started: every row, star and burst is on screen or running.
        for (int i = 0; i < 2000 && board->state() != 7; ++i) board->update(16.0f);
        for (int i = 0; i < 10; ++i) board->update(16.0f);
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
    boost::optional<Sprite> backdrop;
    boost::optional<ResultsMenu> board;
    bool loaded = false;
};

void drawBackdrop(Rig& rig) {
    rig.graphics.setBlend(false);
    rig.shader.use(Graphics::StandardShader::kColor);
    rig.shader.setColor(glm::vec4(1.0f));
    rig.shader.setPVM(screenProjection());
    rig.backdrop->draw(rig.shader);
}

void BM_ResultsBoardBusiestFrame(benchmark::State& state) {
    gl();
    Rig rig;
    if (!rig.loaded) return state.SkipWithError("the board's textures did not load within 30 s");
    for (auto _ : state) {
        rig.begin();
        drawBackdrop(rig);
        rig.board->update(0.0f);
        rig.board->preDraw();
        rig.board->draw(&rig.graphics, &rig.shader, screenProjection());
        glFinish();
    }
}
BENCHMARK(BM_ResultsBoardBusiestFrame)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_EndOfLevelBackdropAlone(benchmark::State& state) {
    gl();
    Rig rig;
    if (!rig.loaded) return state.SkipWithError("the backdrop's texture did not load within 30 s");
    for (auto _ : state) {
        rig.begin();
        drawBackdrop(rig);
        glFinish();
    }
}
BENCHMARK(BM_EndOfLevelBackdropAlone)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

void fillSave() {
    gl();
    shell_services::setDownloadState(4);
    RoamingDataFile file("roamingData");
    for (uint32_t i = 0; i < 24; ++i) file.data.levelEntry(i).best() = 100000 + i;
}

void BM_StartMenuHardcoreTest(benchmark::State& state) {
    fillSave();
    for (auto _ : state) benchmark::DoNotOptimize(MainMenuStartMenu::hardcoreUnlockedNow());
}
BENCHMARK(BM_StartMenuHardcoreTest)->Unit(benchmark::kMicrosecond);

void BM_PlainSaveFileRead(benchmark::State& state) {
    fillSave();
    std::string const path = (documents().path() / "roamingData").string();
    char buffer[4096];
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        size_t const n = f ? std::fread(buffer, 1, sizeof buffer, f) : 0;
        if (f) std::fclose(f);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_PlainSaveFileRead)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
