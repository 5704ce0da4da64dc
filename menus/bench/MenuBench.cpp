// Frame cost on Mesa's software renderer at 1280 x 720: a question box over a running screen
// beside the screen alone (whole app-frame ticks with the post-processing passes), and a menu of
// twelve focusable animated buttons beside the same twelve sprites drawn plainly.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "audio/tests/LoopbackDevice.h"
#include "graphics/Sprite.h"
#include "menus/tests/RealContextsImpl.h"
#include "menus/tests/TwelveButtonMenu.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/PlatformServices.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace {

using Impl = menus_test::RealContextsImpl;
using App = os::AbstractApp<Impl>;
constexpr int W = 1280, H = 720;

testing_support::GlTestContext& gl() {
    static testing_support::GlTestContext context(W, H);
    static bool const ready = [] {
        Singleton<FileSystem>::instance().mount((testing_support::binaryDir() / "pak0.pak").string());
        platform_services::setScreenSizes(1280, 720, W, H);
        Impl::sceneWidth = W;
        Impl::sceneHeight = H;
        return true;
    }();
    (void)ready;
    context.bindTarget();
    return context;
}

// A level stand-in: a full-screen backdrop and a few sprites.
class Scene : public ViewController {
public:
    explicit Scene(Graphics::Context* graphics) {
        sprites.emplace_back(Graphics::Texture(graphics, Assets::texMenusConfirmationboxBackground), kAnchorBottomLeft,
                             glm::vec2(0), glm::vec2(1280, 720), glm::vec2(1));
        for (int i = 0; i < 8; ++i)
            sprites.emplace_back(Graphics::Texture(graphics, Assets::texMenusButtonsConfirmationNormal),
                                 kAnchorBottomLeft, glm::vec2(100 + 130 * i, 300), std::nullopt, glm::vec2(1));
    }
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override {
        graphics->setBlend(true);
        shader->use(Graphics::StandardShader::kColor);
        shader->setColor(glm::vec4(1));
        shader->setPVM(screenProjection());
        for (auto& s : sprites) s.draw(*shader);
    }
    void preDraw(Graphics::Context*) override {}
    void update(Audio::Context&, float, float) override {}
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}
    std::vector<Sprite> sprites;
};

// An app frame showing the scene, with its textures loaded; asks a question when told to.
std::unique_ptr<App> startedApp(bool withQuestion) {
    gl();
    auto app = App::create();
    app->init(0, nullptr);
    app->installViewController(std::make_unique<Scene>(&app->renderContexts()->graphics));
    if (withQuestion) {
        glm::vec2 const offset(0);
        std::string const message = "Leave the level?", yes = "Yes", no = "No";
        app->showConfirmationBox({offset, message, yes, boost::optional<std::string const&>(no), [] {}, [] {}, false});
    }
    auto& graphics = app->renderContexts()->graphics;
    for (int i = 0; i < 2000; ++i) {
        Impl::clock += 16;
        app->tick();
        auto* box = dynamic_cast<ConfirmationBoxViewController*>(app->screen());
        bool const settled = !box || box->box().state() == ConfirmationBox::kInteractive;
        if (settled && graphics.texturesLoaded() && i > 10) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return app;
}

void frames(benchmark::State& state, App& app) {
    for (auto _ : state) {
        Impl::clock += 16;
        app.tick();
        glFinish();
    }
}

void BM_QuestionBoxOverScreen(benchmark::State& state) {
    auto app = startedApp(true);
    if (!app->renderContexts()->graphics.texturesLoaded())
        return state.SkipWithError("the screen's textures did not load within 2000 frames");
    if (!dynamic_cast<ConfirmationBoxViewController*>(app->screen())) return state.SkipWithError("no question box");
    frames(state, *app);
}
BENCHMARK(BM_QuestionBoxOverScreen)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// Baseline: the same screen alone.
void BM_ScreenAlone(benchmark::State& state) {
    auto app = startedApp(false);
    if (!app->renderContexts()->graphics.texturesLoaded())
        return state.SkipWithError("the screen's textures did not load within 2000 frames");
    frames(state, *app);
}
BENCHMARK(BM_ScreenAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

struct MenuRig {
    MenuRig()
        : graphics(1 << 30, boost::none), shader(&graphics), menu(&graphics, &sound.context) {
        auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!graphics.texturesLoaded() && std::chrono::steady_clock::now() < deadline) {
            graphics.updateTextures();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        loaded = graphics.texturesLoaded();
        for (int i = 0; i < 100; ++i) menu.update(16.0f);
        for (int i = 0; i < menus_test::TwelveButtonMenu::kColumns * menus_test::TwelveButtonMenu::kRows; ++i)
            plain.emplace_back(Graphics::Texture(&graphics, Assets::texMenusButtonsConfirmationNormal), kAnchorOrigin,
                               menus_test::TwelveButtonMenu::position(i), std::nullopt, glm::vec2(1));
        graphics.updateTextures();
    }
    void begin() {
        gl();
        glViewport(0, 0, W, H);
        graphics.setBlend(true);
    }
    audio_test::LoopbackContext sound;
    Graphics::Context graphics;
    Graphics::StandardShader shader;
    menus_test::TwelveButtonMenu menu;
    std::vector<Sprite> plain;
    bool loaded = false;  // the textures loaded within the wait
};

void BM_TwelveButtonMenuWithFocus(benchmark::State& state) {
    gl();
    MenuRig rig;
    if (!rig.loaded) return state.SkipWithError("the menu's textures did not load within 30 s");
    glm::mat4 const projection = screenProjection();
    GamepadState s;
    int step = 0;
    for (auto _ : state) {
        // The focus walks right and back along the top row.
        s.dpadX = (step++ % 4 == 0) ? 1.0f : 0.0f;
        rig.begin();
        rig.menu.gamepadInput(s);
        rig.menu.update(16.0f);
        rig.menu.preDraw();
        rig.menu.draw(&rig.graphics, &rig.shader, projection);
        glFinish();
    }
}
BENCHMARK(BM_TwelveButtonMenuWithFocus)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

// Baseline: the twelve button images as plain sprites.
void BM_TwelvePlainSprites(benchmark::State& state) {
    gl();
    MenuRig rig;
    if (!rig.loaded) return state.SkipWithError("the menu's textures did not load within 30 s");
    glm::mat4 const projection = screenProjection();
    for (auto _ : state) {
        rig.begin();
        rig.shader.use(Graphics::StandardShader::kColor);
        rig.shader.setColor(glm::vec4(1));
        rig.shader.setPVM(projection);
        for (auto& sprite : rig.plain) sprite.draw(rig.shader);
        glFinish();
    }
}
BENCHMARK(BM_TwelvePlainSprites)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
