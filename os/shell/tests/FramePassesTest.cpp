// The real app frame in a real window (under Xvfb when there is no display): a screen that draws
// a sprite goes through the whole tick with the post-processing passes, and the window's pixels
// show the sprite, then the colour grading over it; in a window that is not 16:9, inside the
// picture between black bars.
#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "graphics/PostProcessingStep.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/Sprite.h"
#include "graphics/StandardShader.h"
#include "graphics/tests/TestImages.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/shell/GlView.h"
#include "os/shell/Impl.h"
#include "platform/Window.h"
#include "testing/TestPaths.h"

namespace {

// Clears the scene to dark blue and draws one red 200 x 200 sprite in the middle.
class SpriteScreen : public ViewController {
public:
    SpriteScreen(Graphics::Context* graphics, std::string const& path)
        : sprite_(Graphics::Texture(graphics, TextureDescriptor(path, TextureOptions(0, 0, 0, 0), 2)), kAnchorCenter,
                  glm::vec2(0), glm::vec2(200, 200), glm::vec2(1)) {}

    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override {
        glClearColor(0, 0, 0.5f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        if (!sprite_.isReady()) return;
        shader->use(Graphics::StandardShader::kTextured);
        shader->setPVM(screenProjection());
        graphics->setBlend(true);
        sprite_.draw(*shader);
        ++drawn;
    }
    void preDraw(Graphics::Context*) override {}
    void update(Audio::Context&, float, float) override {}
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}

    int drawn = 0;

private:
    Sprite sprite_;
};

uint32_t rgbAt(int x, int y) {
    uint8_t p[4] = {};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
}

constexpr uint32_t rgb(uint8_t r, uint8_t g, uint8_t b) { return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16; }

::testing::AssertionResult near(uint32_t actual, uint32_t expected) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(int(actual >> shift & 0xff) - int(expected >> shift & 0xff)) > 2)
            return ::testing::AssertionFailure() << std::hex << "0x" << actual << " is not near 0x" << expected;
    return ::testing::AssertionSuccess();
}

TEST(FramePasses, TheWindowShowsTheScreenThroughThePasses) {
    auto const pak = testing_support::binaryDir() / "pak0.pak";
    ASSERT_TRUE(std::filesystem::exists(pak)) << pak;
    ASSERT_NE(Singleton<FileSystem>::instance().mount(pak.string()), nullptr);
    testing_support::TempDir dir;
    std::string const red = (dir / "red.png").string();
    gfx_test::writeFile(red, gfx_test::solidPng(16, 16, 255, 0, 0, 255));

    // The game's own window, then one that is not 16:9: the picture between black bars.
    for (auto [windowWidth, windowHeight] : {std::pair{platform::Window::defaultWidth, platform::Window::defaultHeight},
                                             std::pair{1000, 700}}) {
        SCOPED_TRACE(std::to_string(windowWidth) + "x" + std::to_string(windowHeight));
        platform::Window window("zelv", windowWidth, windowHeight);
        ASSERT_TRUE(window.ok()) << window.error();
        std::printf("window on the %s video driver\n", SDL_GetCurrentVideoDriver());
        os::GlView view;
        view.setUp(window.drawableWidth(), window.drawableHeight(), window.scale());
        os::GlView::Sizes const sizes = view.sizes();
        int const w = int(sizes.backingWidth), h = int(sizes.backingHeight);
        int const x0 = int(sizes.originX), y0 = int(sizes.originY);
        // A point of the logical screen in window pixels; a pixel of the picture.
        auto at = [&](float x, float y) {
            return rgbAt(x0 + int(x * float(w) / sizes.virtualWidth), y0 + int(y * float(h) / sizes.virtualHeight));
        };
        auto pictureAt = [&](int x, int y) { return rgbAt(x0 + x, y0 + y); };
        float const cx = sizes.virtualWidth / 2, cy = sizes.virtualHeight / 2;
        auto app = os::App::create();
        window.makeCurrent();
        ASSERT_TRUE(app->init(0, nullptr));
        auto& contexts = *app->renderContexts();
        auto screen = std::make_unique<SpriteScreen>(&contexts.graphics, red);
        SpriteScreen* shown = screen.get();
        app->installViewController(std::move(screen));

        for (int i = 0; i < 2000 && shown->drawn < 2; ++i) {
            app->tick();
            if (shown->drawn < 2) window.swap();
        }
        ASSERT_GE(shown->drawn, 2) << "the sprite's texture never loaded";
        // The frame as presented: the sprite's lower-left corner is placed by its 16-pixel texture,
        // its size is 200; the cleared scene around it.
        EXPECT_EQ(at(cx, cy), rgb(255, 0, 0));
        EXPECT_EQ(at(cx + 190, cy + 190), rgb(255, 0, 0));
        EXPECT_TRUE(near(at(cx - 20, cy), rgb(0, 0, 128)));
        EXPECT_TRUE(near(at(cx + 210, cy + 100), rgb(0, 0, 128)));
        EXPECT_TRUE(near(pictureAt(5, 5), rgb(0, 0, 128)));
        EXPECT_TRUE(near(pictureAt(w - 5, h - 5), rgb(0, 0, 128)));
        if (y0 > 0) {
            EXPECT_EQ(rgbAt(5, y0 / 2), rgb(0, 0, 0));
            EXPECT_EQ(rgbAt(w - 5, window.drawableHeight() - y0 / 2), rgb(0, 0, 0));
        }
        window.swap();

        // A screen's colour fade reaches the window through the final composite.
        contexts.postProcessing.fadeColor(glm::vec3(1), glm::vec3(0.5f, 1, 1), 1);
        contexts.postProcessing.fadeAddColor(glm::vec3(0), glm::vec3(0, 0.25f, 0), 1);
        for (int i = 0; i < 3; ++i) {
            app->tick();
            if (i < 2) window.swap();
        }
        EXPECT_TRUE(near(at(cx + 100, cy + 100), rgb(128, 64, 0)));
        EXPECT_TRUE(near(pictureAt(5, 5), rgb(0, 64, 128)));
        window.swap();

        app.reset();
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A real X display when there is none: run again under a virtual one, which must not reset
    // when the first window closes (the next window's connection would race the reset).
    if (!std::getenv("DISPLAY") && !std::getenv("ZELV_UNDER_XVFB") && access("/usr/bin/xvfb-run", X_OK) == 0) {
        setenv("ZELV_UNDER_XVFB", "1", 1);
        std::vector<char*> args = {const_cast<char*>("xvfb-run"), const_cast<char*>("-a"), const_cast<char*>("-s"),
                                   const_cast<char*>("-screen 0 1400x800x24 -noreset")};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execv("/usr/bin/xvfb-run", args.data());
    }
    if (std::getenv("DISPLAY")) setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("MESA_GLES_VERSION_OVERRIDE", "2.0", 0);
    testing_support::pinGlDriver();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
