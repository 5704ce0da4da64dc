#pragma once
// The rig of the menu tests: a real GL ES 2.0 target a quarter of the 1280 x 720 logical
// screen, the built data archive for art, fonts and hit areas, the graphics, fonts and audio
// contexts (audio on OpenAL's loopback device), and frames drawn with the screen projection.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "audio/tests/LoopbackDevice.h"
#include "fonts/Context.h"
#include "graphics/Context.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/StandardShader.h"
#include "graphics/tests/TestImages.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace menus_test {

inline constexpr int kWidth = 320, kHeight = 180;  // a quarter of the logical screen

// Mounts the data archive once per process: the built one, or the copy the first caller names
// (archives cannot be unmounted, so a binary that withholds content asks first).
inline bool mountData(std::filesystem::path const& archive = testing_support::binaryDir() / "pak0.pak") {
    static bool const mounted = [&] {
        return std::filesystem::exists(archive) && Singleton<FileSystem>::instance().mount(archive.string()) != nullptr;
    }();
    return mounted;
}

inline bool near(uint32_t actual, uint32_t expected, int tolerance = 3) {
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(int(actual >> shift & 0xff) - int(expected >> shift & 0xff)) > tolerance) return false;
    return true;
}

class MenuFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gl.ok());
        ASSERT_TRUE(mountData());
        platform_services::setScreenSizes(1280, 720, kWidth, kHeight);
        shell_services::setControllerPresent(false);
        gl.bindTarget();
        graphics = std::make_unique<Graphics::Context>(1 << 30, boost::none);
        shader = std::make_unique<Graphics::StandardShader>(graphics.get());
        fonts = std::make_unique<Fonts::Context>(graphics.get(), "fonts/", "en_US");
    }
    void TearDown() override { shell_services::setControllerPresent(false); }

    bool loadTextures() { return gfx_test::loadTextures(*graphics); }

    // Clears to the colour, then draws with the logical-screen projection in colour mode.
    template <class Draw>
    void frame(glm::vec4 const& clear, Draw&& draw) {
        gl.bindTarget();
        glViewport(0, 0, kWidth, kHeight);
        glClearColor(clear.r, clear.g, clear.b, clear.a);
        glClear(GL_COLOR_BUFFER_BIT);
        graphics->setBlend(true);
        shader->use(Graphics::StandardShader::kColor);
        shader->setColor(glm::vec4(1.0f));
        shader->setPVM(screenProjection());
        draw();
        glFinish();
    }
    // The pixel at a point of the logical screen.
    uint32_t at(float x, float y) { return gl.pixel(int(x / 4.0f), int(y / 4.0f)); }

    testing_support::GlTestContext gl{kWidth, kHeight};
    std::unique_ptr<Graphics::Context> graphics;
    std::unique_ptr<Graphics::StandardShader> shader;
    std::unique_ptr<Fonts::Context> fonts;
    audio_test::LoopbackContext sound;
    Audio::Context* audio = &sound.context;
};

}  // namespace menus_test
