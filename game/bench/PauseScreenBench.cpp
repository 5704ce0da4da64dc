// One whole frame of paused level01 (the pause menu over its captured, blurred picture) beside
// one frame of level01 being played, both through the frame's full sequence of passes on
// Mesa's software renderer at 1280 x 720. Pausing should cost less than playing. CPU time is the
// whole process's, so it counts the renderer's own threads too.
#include <GLES2/gl2.h>
#include <benchmark/benchmark.h>

#include <memory>

#include "audio/tests/LoopbackDevice.h"
#include "fonts/Context.h"
#include "game/GameViewController.h"
#include "game/PauseViewController.h"
#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "graphics/StandardShader.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/PlatformServices.h"
#include "os/shell/LevelStart.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace {

constexpr float dt = 1000.0f / 60.0f;

struct Contexts {
    testing_support::GlTestContext gl{1280, 720};
    audio_test::LoopbackContext audio;
    Graphics::Context graphics{uint64_t(0x9000000), boost::none};
    PostProcessingStep post{&graphics, glm::ivec2(1280, 720), glm::ivec2(1280, 720), true};
    Graphics::StandardShader shader{&graphics};
    Fonts::Context fonts{&graphics, "fonts/", "en_US"};
    EventHandler events;
    float now = 0.0f;
};

Contexts& contexts() {
    static bool const ready = [] {
        Singleton<FileSystem>::instance().mount((testing_support::binaryDir() / "pak0.pak").string());
        platform_services::setScreenSizes(1280, 720, 1280, 720);
        return true;
    }();
    (void)ready;
    // Kept to the end of the process: tearing the contexts down after main hangs on their workers.
    static Contexts* c = new Contexts;
    c->gl.bindTarget();
    return *c;
}

std::unique_ptr<GameViewController> level01(Contexts& c) {
    PristineLevel::Data level;
    os::readLevelFile("levels/level01.pxl", level);
    auto game = std::make_unique<GameViewController>(
        &c.graphics, &c.audio.context, &c.fonts, &c.events, "levels/level01.pxl", "level01Name", &c.post,
        [](TriggerVariant const&, std::string const&, std::string const&) {},
        [](std::string const&, std::string const&) {}, [](ConfirmationBox::Parameters const&) {}, false,
        [](std::string const&, std::string const&, bool, bool, bool) {}, std::move(level), true,
        [](boost::optional<std::string> const&) {}, false);
    os::waitForTextures(c.graphics);
    return game;
}

// The app frame's sequence for one tick.
void frame(Contexts& c, ViewController& screen) {
    c.now += dt;
    c.events.dispatch();
    screen.update(c.audio.context, dt, c.now);
    c.audio.context.update(dt);
    c.post.update(dt);
    c.graphics.updateTextures();
    c.graphics.beginDynamicBuffers();
    screen.preDraw(&c.graphics);
    c.graphics.endDynamicBuffers();
    c.post.updateColors();
    screen.draw(&c.graphics, &c.shader);
    c.post.drawBackdrop(&c.graphics, &c.shader);
    screen.drawOverlay(&c.graphics, &c.shader);
    c.post.present(&c.graphics, &c.shader);
    glFinish();  // the software renderer draws on flush
}

void playing(benchmark::State& state) {
    Contexts& c = contexts();
    auto game = level01(c);
    for (int i = 0; i < 120; ++i) frame(c, *game);
    for (auto _ : state) frame(c, *game);
}

void paused(benchmark::State& state) {
    Contexts& c = contexts();
    PauseViewController pause(&c.graphics, &c.audio.context, level01(c), &c.post, &c.fonts, &c.events,
                              [] { return true; }, [](std::string const&, std::string const&, bool, bool, bool) {},
                              "levels/level01.pxl", "level01Name", [](std::unique_ptr<ViewController>&&) {}, false,
                              false);
    for (int i = 0; i < 2000 && pause.state() != PauseViewController::kInteractive; ++i) {
        if (!c.graphics.texturesLoaded()) os::waitForTextures(c.graphics);
        frame(c, pause);
    }
    if (pause.state() != PauseViewController::kInteractive) {
        state.SkipWithError("the pause menu did not open");
        return;
    }
    for (auto _ : state) frame(c, pause);
}

}  // namespace

BENCHMARK(playing)->Name("level01/playing_frame")->Unit(benchmark::kMicrosecond)->Iterations(240)->Repetitions(5)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(paused)->Name("level01/paused_frame")->Unit(benchmark::kMicrosecond)->Iterations(240)->Repetitions(5)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK_MAIN();
