// The level loader's blocking frame with the real game screen: read and inflate the largest
// catalog level, build its data and the game screen on it, and update that screen once at dt 0,
// as the loader's building update does; beside zlib's uncompress of the same file. Textures the
// screen asks for decode on the workers after the frame and are not part of it. Wall and process
// CPU time are both reported: Mesa and the decode workers run threads of their own.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <memory>
#include <vector>

#include "audio/tests/LoopbackDevice.h"
#include "game/GameViewController.h"
#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "level/LevelCatalog.h"
#include "menus/LevelLoaderViewController.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/PlatformServices.h"
#include "os/shell/LevelStart.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace {

struct Contexts {
    testing_support::GlTestContext gl{1280, 720};
    audio_test::LoopbackContext audio;
    Graphics::Context graphics{uint64_t(0x9000000), boost::none};
    PostProcessingStep post{&graphics, glm::ivec2(1280, 720), glm::ivec2(1280, 720), true};
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

// The largest catalog level in the data archive.
std::string const& largestLevel() {
    static std::string const path = [] {
        contexts();
        FileSystem& fs = Singleton<FileSystem>::instance();
        std::string best;
        uint64_t size = 0;
        for (uint64_t i = 0; i < LevelCatalog::count(); ++i)
            if (auto f = fs.open(LevelCatalog::entry(i).path); f->size() > size)
                size = f->size(), best = LevelCatalog::entry(i).path;
        return best;
    }();
    return path;
}

std::unique_ptr<GameViewController> buildScreen(Contexts& c, std::string const& path) {
    PristineLevel::Data level;
    LevelLoading::readLevel(path, level);
    return std::make_unique<GameViewController>(
        &c.graphics, &c.audio.context, nullptr, &c.events, path, "levelName", &c.post,
        [](TriggerVariant const&, std::string const&, std::string const&) {},
        [](std::string const&, std::string const&) {}, [](ConfirmationBox::Parameters const&) {}, false,
        [](std::string const&, std::string const&, bool, bool, bool) {}, std::move(level), true,
        [](boost::optional<std::string> const&) {}, false);
}

// Arg 0: a load from the menus, the level's sounds decoded anew. Arg 1: a restart, the old screen
// (and with it the decoded sounds) kept until the new one exists, as the loader does.
void BM_LoaderFrameWithGameScreen(benchmark::State& state) {
    Contexts& c = contexts();
    std::string const& path = largestLevel();
    bool const restart = state.range(0) == 1;
    // A first screen loads the level's textures, as a retry would find them.
    auto held = buildScreen(c, path);
    os::waitForTextures(c.graphics);
    if (!restart) held.reset();
    float now = 0.0f;
    for (auto _ : state) {
        auto screen = buildScreen(c, path);
        screen->update(c.audio.context, 0.0f, now += 16.0f);
        state.PauseTiming();
        if (restart) std::swap(held, screen);
        screen.reset();
        state.ResumeTiming();
    }
    held.reset();
    os::waitForTextures(c.graphics);
}
BENCHMARK(BM_LoaderFrameWithGameScreen)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_ZlibUncompressSameFile(benchmark::State& state) {
    auto file = Singleton<FileSystem>::instance().open(largestLevel());
    uint8_t const* b = file->data();
    uLongf const declared = uLongf(b[0]) | uLongf(b[1]) << 8 | uLongf(b[2]) << 16 | uLongf(b[3]) << 24;
    std::vector<uint8_t> out(declared);
    for (auto _ : state) {
        uLongf produced = declared;
        uncompress(out.data(), &produced, b + 4, uLong(file->size() - 4));
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ZlibUncompressSameFile)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
