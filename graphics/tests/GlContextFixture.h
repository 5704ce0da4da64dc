#pragma once
// The rig of the GL drawing tests: a real GL ES 2.0 target of 64 x 64 pixels, the built data
// archive mounted for its shaders and art, a graphics context and the standard shader; and the
// texture pass run until every requested image is on the GPU.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace gfx_test {

class GlContextFixture : public ::testing::Test {
public:
    static constexpr int kSide = 64;

    // Texture passes until nothing is left to decode or upload; false after about five seconds.
    static bool loadTextures(Graphics::Context& context) {
        for (int i = 0; i < 5000; ++i) {
            context.updateTextures();
            if (context.texturesLoaded()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

protected:
    void SetUp() override {
        unsetenv("ZELV_DEVICE_MODEL");
        ASSERT_TRUE(gl.ok());
        auto const pak = testing_support::binaryDir() / "pak0.pak";
        ASSERT_TRUE(std::filesystem::exists(pak)) << pak;
        static bool const mounted = Singleton<FileSystem>::instance().mount(pak.string()) != nullptr;
        ASSERT_TRUE(mounted);
        gl.bindTarget();
        ctx = std::make_unique<Graphics::Context>(1 << 30, boost::none);
        shader = std::make_unique<Graphics::StandardShader>(ctx.get());
    }

    // Tests that pose as a low-end device set the model; the next test starts without it.
    void TearDown() override { unsetenv("ZELV_DEVICE_MODEL"); }

    bool loadTextures() { return loadTextures(*ctx); }

    testing_support::GlTestContext gl{kSide, kSide};
    std::unique_ptr<Graphics::Context> ctx;
    std::unique_ptr<Graphics::StandardShader> shader;
};

}  // namespace gfx_test
