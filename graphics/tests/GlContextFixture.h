#pragma once
// The rig of the GL drawing tests: a real GL ES 2.0 target of 64 x 64 pixels, the built data
// archive mounted for its shaders and art, a graphics context and the standard shader; and the
// texture pass run until every requested image is on the GPU.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "graphics/tests/TestImages.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace gfx_test {

class GlContextFixture : public ::testing::Test {
public:
    static constexpr int kSide = 64;

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

    bool loadTextures() { return gfx_test::loadTextures(*ctx); }

    testing_support::GlTestContext gl{kSide, kSide};
    std::unique_ptr<Graphics::Context> ctx;
    std::unique_ptr<Graphics::StandardShader> shader;
};

}  // namespace gfx_test
