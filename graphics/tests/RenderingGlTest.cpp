// End to end on Mesa's GL ES 2.0: images decode, upload and draw with the right pixels, and
// every shader of the data archive builds in every variant the code uses.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "graphics/Context.h"
#include "graphics/GlFunctions.h"
#include "graphics/ImageDecoding.h"
#include "graphics/ShaderCompiler.h"
#include "graphics/ShaderProgram.h"
#include "graphics/tests/GlContextFixture.h"
#include "graphics/tests/TestImages.h"
#include "os/MemoryMappedZipFile.h"

using Graphics::Context;
using Graphics::TextureEntry;
using testing_support::rgba;

namespace {

float const kQuad[16] = {1, -1, 1, 0, 1, 1, 1, 1, -1, -1, 0, 0, -1, 1, 0, 1};

struct RenderTest : gfx_test::GlContextFixture {
    testing_support::TempDir dir;

    TextureEntry* request(std::string const& name, gfx_test::Bytes const& bytes, uint8_t flags = 3) {
        TextureDescriptor d(gfx_test::writeFile(dir / name, bytes), TextureOptions(0, 0, 0, 0), flags);
        return ctx->requestTexture(Context::hashName(d.path), &d);
    }

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
};

uint8_t patternAt(int x, int y, int c) { return uint8_t(x * 7 + y * 13 + c * 50); }

}  // namespace

TEST_F(RenderTest, PngAndWebpDrawWithTheirPixels) {
    TextureEntry* red = request("red.png", gfx_test::solidPng(8, 8, 255, 0, 0, 255));
    TextureEntry* green = request("green.webp", gfx_test::solidWebp(8, 8, 0, 255, 0));
    TextureEntry* lum = request("lum.png", gfx_test::png(4, 4, 1), 1);
    TextureEntry* alpha = request("alpha.png", gfx_test::png(4, 4, 1), 2);
    ASSERT_TRUE(loadTextures());
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
    ASSERT_TRUE(loadTextures());
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
    shader.reset();  // one worker, so the decode area is reused
    ctx = std::make_unique<Context>(1 << 30, boost::none, Context::Workers{1, true});
    TextureEntry* red = request("red.png", gfx_test::solidPng(32, 32, 255, 0, 0, 255));
    ASSERT_TRUE(loadTextures());
    ASSERT_EQ(red->resident, 1);
    // Same size and layout, so it would reuse the red pixels left in the decode area.
    auto bytes = gfx_test::solidPng(32, 32, 0, 0, 255, 255);
    bytes.resize(bytes.size() - 30);
    TextureEntry* broken = request("broken.png", bytes);
    ASSERT_TRUE(loadTextures());
    ASSERT_EQ(broken->resident, 1);
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    drawFull(broken->glName);
    EXPECT_EQ(gl.pixel(5, 5), rgba(0, 0, 0, 0));
}

TEST_F(RenderTest, EveryShaderOfTheArchiveBuildsInEveryVariant) {
    for (auto const* file : {"shaders/standard.vert", "shaders/standard.frag", "shaders/monochrome.vert",
                             "shaders/monochrome.frag", "shaders/blurpass1.vert", "shaders/blurpass1.frag",
                             "shaders/goldParticle.vert", "shaders/goldParticle.frag",
                             "shaders/postprocessing_gold.vert", "shaders/postprocessing_gold.frag",
                             "shaders/menubg.vert"}) {
        std::string const text = Graphics::readShaderSource(file);
        ASSERT_FALSE(text.empty()) << file;
        EXPECT_NE(text.rfind("#version", 0), 0u) << file;
    }

    for (uint32_t mode = 0; mode <= 5; ++mode) EXPECT_NE(shader->program(mode).glName(), 0u) << "mode " << mode;

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
        Graphics::ShaderProgram program(ctx.get(), {c.vertex, c.fragment, c.attributes, none, c.fragmentPrefix});
        ASSERT_NE(program.glName(), 0u) << c.vertex;
        for (auto const* u : c.uniforms) EXPECT_GE(program.uniformLocation(u), 0) << c.vertex << " " << u;
    }
}

// Blended (1, 1 - alpha), a colour above its alpha lights up what lies behind: the blocky fringes
// round the panels' corners. (Glyph pages are masks: text draws its tint through their alpha.)
TEST_F(RenderTest, EveryImageOfTheArchiveIsStoredPremultiplied) {
    MemoryMappedZipFile const pak((testing_support::binaryDir() / "pak0.pak").string());
    for (auto const& [path, where] : pak.entries()) {
        auto const f = pak.open(path);
        Graphics::ImageInfo i;
        bool const art = path.ends_with(".png") && !path.starts_with("fonts/");
        if (!art || !Graphics::readImageInfo(f->data(), f->size(), i, {})) continue;
        std::vector<uint8_t> px(size_t(i.width) * i.height * 4);
        ASSERT_TRUE(Graphics::decodeImage(f->data(), f->size(), i.width, i.height, 4, px.data(), px.size()));
        for (size_t k = 0; k < px.size(); k += 4)
            ASSERT_LE(std::max({px[k], px[k + 1], px[k + 2]}), px[k + 3] + 1) << path;
    }
}
