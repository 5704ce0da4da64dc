// One frame of level01 through the game screen (its update, the world's update inside it, and the
// three draw passes with the HUD and the touch scheme) beside the same frame of the world alone
// (World::update, World::draw and the draw list's two passes), on Mesa's software renderer at
// 1280 x 720. The difference is the game screen's own cost per frame.
#include <GLES2/gl2.h>
#include <benchmark/benchmark.h>

#include <memory>

#include "audio/tests/LoopbackDevice.h"
#include "game/GameViewController.h"
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
    EventHandler events;
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

PristineLevel::Data level01() {
    PristineLevel::Data level;
    os::readLevelFile("levels/level01.pxl", level);
    return level;
}

void worldFrame(benchmark::State& state) {
    Contexts& c = contexts();
    World world(&c.graphics, &c.audio.context, &c.events, level01(), &c.post, GameMode::Normal, size_t(0));
    os::waitForTextures(c.graphics);
    ControlSchemeInputState const right(0, 0, 1, 0, 1.0f);
    float now = 0.0f;
    // Warm-up frames load what the first frames ask for; then the timed frames.
    for (int frame = -120; frame < 0 || state.KeepRunning(); ++frame) {
        now += dt;
        c.events.dispatch();
        world.update(&c.graphics, c.audio.context, nullptr, &right, dt, now);
        world.draw(&c.graphics);
        world.drawList().drawEffectLayers(&c.graphics, &c.shader);
        world.drawList().draw(&c.graphics, &c.shader);
        glFinish();  // the software renderer draws on flush
    }
}

void gameScreenFrame(benchmark::State& state) {
    Contexts& c = contexts();
    GameViewController game(&c.graphics, &c.audio.context, nullptr, &c.events, "levels/level01.pxl", "level01Name",
                            &c.post, [](TriggerVariant const&, std::string const&, std::string const&) {},
                            [](std::string const&, std::string const&) {}, [](ConfirmationBox::Parameters const&) {},
                            false, [](std::string const&, std::string const&, bool, bool, bool) {}, level01(), true,
                            [](boost::optional<std::string> const&) {}, false);
    os::waitForTextures(c.graphics);
    GamepadState right;
    right.dpadX = 1.0f;
    float now = 0.0f;
    for (int frame = -120; frame < 0 || state.KeepRunning(); ++frame) {
        now += dt;
        c.events.dispatch();
        game.gamepadInput(right);
        game.update(c.audio.context, dt, now);
        game.preDraw(&c.graphics);
        game.draw(&c.graphics, &c.shader);
        game.drawOverlay(&c.graphics, &c.shader);
        glFinish();
    }
}

}  // namespace

BENCHMARK(worldFrame)->Name("level01/world_update_and_draw")->Unit(benchmark::kMicrosecond)->Iterations(480)->Repetitions(3);
BENCHMARK(gameScreenFrame)->Name("level01/game_screen_frame")->Unit(benchmark::kMicrosecond)->Iterations(480)->Repetitions(3);
BENCHMARK_MAIN();
