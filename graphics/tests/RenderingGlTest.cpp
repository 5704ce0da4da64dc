// End to end on Mesa's GL ES 2.0: images decode, upload and draw with the right pixels, and
// every shader of the data archive builds in every variant the code uses.
#include <gtest/gtest.h>

#include <chrono>
#include <glm/gtc/matrix_transform.hpp>
#include <thread>

#include "graphics/Context.h"
#include "graphics/GlFunctions.h"
#include "graphics/ShaderCompiler.h"
#include "graphics/ShaderProgram.h"
#include "graphics/StandardShader.h"
#include "graphics/tests/GlContextFixture.h"
#include "graphics/tests/TestImages.h"
#include "os/FileSystem.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

using Graphics::Context;
using Graphics::TextureEntry;
using testing_support::rgba;

namespace {

float const kQuad[16] = {1, -1, 1, 0, 1, 1, 1, 1, -1, -1, 0, 0, -1, 1, 0, 1};

struct RenderTest : ::testing::Test {
    testing_support::GlTestContext gl{64, 64};
    testing_support::TempDir dir;
    std::unique_ptr<Context> ctx;

    void SetUp() override {
        ASSERT_TRUE(gl.ok());
        gl.bindTarget();
        ctx = std::make_unique<Context>(1 << 30, boost::none);
    }

    TextureEntry* request(std::string const& name, gfx_test::Bytes const& bytes, uint8_t flags = 3,
                          TextureOptions options = TextureOptions(0, 0, 0, 0)) {
        auto path = (dir / name).string();
        gfx_test::writeFile(path, bytes);
        TextureDescriptor d(path, options, flags);
        return ctx->requestTexture(Context::hashName(path), &d);
    }

    bool loadAll() { return gfx_test::GlContextFixture::loadTextures(*ctx); }

    // Draws the texture over the whole target through the built-in program, blending off.
    void drawFull(GLuint texture) {
        ctx->setBlend(false);
        ctx->useProgram(ctx->blitProgram());
        ctx->bindTextureUnit(GL_TEXTURE0, texture);
        ctx->setEnabledVertexAttribCount(2);
        ctx->bindBuffer(GL_ARRAY_BUFFER, 0);
        ctx->vertexAttribPointer(0, 2, GL_FLOAT, false, 16, kQuad);
        ctx->vertexAttribPointer(1, 2, GL_FLOAT, false, 16, kQuad + 2);
        Graphics::gl::drawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }

    void clear(float r, float g, float b, float a) {
        glClearColor(r, g, b, a);
        glClear(GL_COLOR_BUFFER_BIT);
    }
};

uint8_t patternAt(int x, int y, int c) { return uint8_t(x * 7 + y * 13 + c * 50); }

// Colour arithmetic in the shaders may round either way.
::testing::AssertionResult near(uint32_t actual, uint32_t expected) {
    for (int shift = 0; shift < 32; shift += 8) {
        int const a = int(actual >> shift & 0xff), e = int(expected >> shift & 0xff);
        if (std::abs(a - e) > 1) {
            return ::testing::AssertionFailure() << std::hex << "0x" << actual << " is not near 0x" << expected;
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(RenderTest, PngAndWebpDrawWithTheirPixels) {
    TextureEntry* red = request("red.png", gfx_test::solidPng(8, 8, 255, 0, 0, 255));
    TextureEntry* green = request("green.webp", gfx_test::solidWebp(8, 8, 0, 255, 0));
    TextureEntry* lum = request("lum.png", gfx_test::png(4, 4, 1), 1);
    TextureEntry* alpha = request("alpha.png", gfx_test::png(4, 4, 1), 2);
    ASSERT_TRUE(loadAll());
    for (auto* e : {red, green, lum, alpha}) ASSERT_EQ(e->resident, 1) << e->path;
    EXPECT_EQ(green->channels, 3);

    drawFull(red->glName);
    EXPECT_EQ(gl.pixel(10, 10), rgba(255, 0, 0, 255));
    drawFull(green->glName);
    EXPECT_EQ(gl.pixel(40, 20), rgba(0, 255, 0, 255));
    // One channel: GL_LUMINANCE with bit 0, else GL_ALPHA. Texel (0, 0) holds 0.
    drawFull(lum->glName);
    EXPECT_EQ(gl.pixel(0, 0), rgba(0, 0, 0, 255));
    uint8_t const v = patternAt(1, 0, 0);
    EXPECT_EQ(gl.pixel(16, 0), rgba(v, v, v, 255));
    drawFull(alpha->glName);
    EXPECT_EQ(gl.pixel(16, 0), rgba(0, 0, 0, v));
}

TEST_F(RenderTest, A1024RgbImageBecomesAPageTexture) {
    TextureEntry* page = request("page.png", gfx_test::png(1024, 1024, 3), 4);
    ASSERT_EQ(page->pageTexture, 1);
    ASSERT_TRUE(loadAll());
    ASSERT_EQ(page->resident, 1);
    EXPECT_EQ(ctx->pagesInUseCount(), 1u);
    drawFull(page->glName);
    // With nearest sampling, target pixel (x, y) shows image texel (16x + 8, 16y + 8).
    for (auto [x, y] : {std::pair{0, 0}, {2, 3}, {63, 40}}) {
        int const tx = 16 * x + 8, ty = 16 * y + 8;
        EXPECT_EQ(gl.pixel(x, y), rgba(patternAt(tx, ty, 0), patternAt(tx, ty, 1), patternAt(tx, ty, 2), 255));
    }
}

TEST_F(RenderTest, SlicedUploadEndsWithTheWholeImage) {
    TextureEntry* wide = request("wide.png", gfx_test::solidPng(1000, 300, 10, 20, 30, 255), Graphics::kLoadSliced);
    int passes = 0;
    while (!wide->resident && passes < 5000) {
        ctx->updateTextures();
        ++passes;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(wide->resident, 1);
    drawFull(wide->glName);
    EXPECT_EQ(gl.pixel(0, 0), rgba(10, 20, 30, 255));
    EXPECT_EQ(gl.pixel(63, 63), rgba(10, 20, 30, 255));
}

TEST_F(RenderTest, ADamagedImageIsEmptyNotThePreviousOne) {
    ctx.reset();
    ctx = std::make_unique<Context>(1 << 30, boost::none, Context::Workers{1, true});
    TextureEntry* red = request("red.png", gfx_test::solidPng(32, 32, 255, 0, 0, 255));
    ASSERT_TRUE(loadAll());
    ASSERT_EQ(red->resident, 1);
    // Same size and layout, so it would reuse the red pixels left in the decode area.
    auto bytes = gfx_test::solidPng(32, 32, 0, 0, 255, 255);
    bytes.resize(bytes.size() - 30);
    TextureEntry* broken = request("broken.png", bytes);
    ASSERT_TRUE(loadAll());
    ASSERT_EQ(broken->resident, 1);
    clear(0, 1, 0, 1);
    drawFull(broken->glName);
    EXPECT_EQ(gl.pixel(5, 5), rgba(0, 0, 0, 0));
}

TEST(ShaderArchiveTest, EveryShaderBuildsInEveryVariant) {
    testing_support::GlTestContext gl(16, 16);
    ASSERT_TRUE(gl.ok());
    auto const pak = testing_support::binaryDir() / "pak0.pak";
    ASSERT_TRUE(std::filesystem::exists(pak)) << pak;
    ASSERT_NE(Singleton<FileSystem>::instance().mount(pak.string()), nullptr);
    for (auto const* file : {"shaders/standard.vert", "shaders/standard.frag", "shaders/monochrome.vert",
                             "shaders/monochrome.frag", "shaders/blurpass1.vert", "shaders/blurpass1.frag",
                             "shaders/goldParticle.vert", "shaders/goldParticle.frag",
                             "shaders/postprocessing_gold.vert", "shaders/postprocessing_gold.frag",
                             "shaders/menubg.vert"}) {
        std::string const text = Graphics::readShaderSource(file);
        ASSERT_FALSE(text.empty()) << file;
        EXPECT_NE(text.rfind("#version", 0), 0u) << file;
    }

    Context ctx(1 << 20, boost::none, Context::Workers{1, false});
    Graphics::StandardShader standard(&ctx);
    for (uint32_t mode = 0; mode <= 5; ++mode) EXPECT_NE(standard.program(mode).glName(), 0u) << "mode " << mode;

    std::string const none, vertexUv = "vertex,uvcoord", vertexOnly = "vertex", blur = Graphics::blurWeightsPrelude();
    struct Case {
        std::string vertex, fragment;
        std::string const& attributes;
        std::string const& fragmentPrefix;
        std::vector<char const*> uniforms;
    } const cases[] = {
        {"shaders/monochrome.vert", "shaders/monochrome.frag", vertexUv, none, {"tex", "color", "amount"}},
        {"shaders/blurpass1.vert", "shaders/blurpass1.frag", vertexUv, blur, {"tex", "stepUniform"}},
        {"shaders/goldParticle.vert", "shaders/goldParticle.frag", vertexOnly, none, {"pvm", "tex", "particleSize"}},
        {"shaders/postprocessing_gold.vert", "shaders/postprocessing_gold.frag", vertexUv, none,
         {"goldMap", "goldGrad"}},
        {"shaders/menubg.vert", "shaders/standard.frag", vertexUv, none, {"projView", "tex", "time"}},
    };
    for (auto const& c : cases) {
        Graphics::ShaderProgram program(&ctx, {c.vertex, c.fragment, c.attributes, none, c.fragmentPrefix});
        ASSERT_NE(program.glName(), 0u) << c.vertex;
        for (auto const* u : c.uniforms) EXPECT_GE(program.uniformLocation(u), 0) << c.vertex << " " << u;
    }
}

TEST_F(RenderTest, StandardShaderVariantsCombineColours) {
    auto const pak = testing_support::binaryDir() / "pak0.pak";
    ASSERT_NE(Singleton<FileSystem>::instance().mount(pak.string()), nullptr);
    TextureEntry* white = request("white.png", gfx_test::solidPng(4, 4, 255, 255, 255, 255));
    TextureEntry* half = request("half.png", gfx_test::solidPng(4, 4, 255, 128, 0, 255));
    ASSERT_TRUE(loadAll());
    Graphics::StandardShader shader(ctx.get());
    auto draw = [&](uint32_t mode, glm::vec4 colour, glm::vec4 ambient) {
        clear(0, 0, 0, 0);
        ctx->setBlend(false);
        shader.use(mode);
        shader.setPVM(glm::mat4(1.0f));
        shader.setColor(colour);
        shader.setAmbientColor(ambient);
        ctx->bindTextureUnit(GL_TEXTURE0, white->glName);
        if (mode >= 4) ctx->bindTextureUnit(GL_TEXTURE1, half->glName);
        shader.setVertexAttribute(0, 0, reinterpret_cast<uintptr_t>(kQuad), 16, 2, GL_FLOAT);
        shader.setVertexAttribute(0, 1, reinterpret_cast<uintptr_t>(kQuad + 2), 16, 2, GL_FLOAT);
        if (mode >= 4) shader.setVertexAttribute(0, 2, reinterpret_cast<uintptr_t>(kQuad + 2), 16, 2, GL_FLOAT);
        shader.drawArrays(GL_TRIANGLE_STRIP, 0, 4);
        return gl.pixel(8, 8);
    };
    glm::vec4 const blueish(0.0f, 0.5f, 1.0f, 1.0f), none(0.0f);
    EXPECT_TRUE(near(draw(0, none, none), rgba(255, 255, 255, 255)));
    EXPECT_TRUE(near(draw(1, blueish, none), rgba(0, 128, 255, 255)));
    EXPECT_TRUE(near(draw(2, glm::vec4(0.5f, 0.5f, 0.5f, 1.0f), glm::vec4(0.25f, 0.0f, 0.0f, 0.0f)), rgba(191, 128, 128, 255)));
    EXPECT_TRUE(near(draw(5, none, none), rgba(255, 128, 0, 255)));
    EXPECT_TRUE(near(draw(4, blueish, none), rgba(0, 64, 0, 255)));
}
