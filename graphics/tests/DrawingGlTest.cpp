// Drawing on Mesa's GL ES 2.0 with pixels read back: sprites in every standard-shader mode, anchors,
// the quad's uv layout, sprite-sheet frames, shared vertex buffers, moving level quads, and the
// post-processing passes (tweens, capture, blur, backdrop, monochrome, composite, low-end scale).
#include <gtest/gtest.h>

#include <glm/gtc/matrix_transform.hpp>
#include <cstdlib>
#include <cstring>
#include <cfloat>
#include <cmath>
#include <functional>

#include "graphics/Context.h"
#include "graphics/DrawList.h"
#include "graphics/GlFunctions.h"
#include "graphics/PostProcessingStep.h"
#include "graphics/QuadInstance.h"
#include "graphics/Splash.h"
#include "graphics/Sprite.h"
#include "graphics/SpriteSheetAnimation.h"
#include "graphics/StandardShader.h"
#include "graphics/Texture.h"
#include "graphics/TwoStateSprite.h"
#include "graphics/VertexBuffer.h"
#include "graphics/tests/GlContextFixture.h"
#include "graphics/tests/MeshTestData.h"
#include "graphics/tests/TestImages.h"
#include "os/services/PlatformServices.h"
#include "testing/TestPaths.h"

using Graphics::Context;
using Graphics::StandardShader;
using Graphics::Texture;
using testing_support::rgba;

namespace {



struct Rgba {
    uint8_t r, g, b, a;
};

// A PNG of `cellsX` x `cellsY` flat cells, `cell` pixels each, listed from the image's top row.
gfx_test::Bytes cellPng(int cell, int cellsX, int cellsY, std::vector<Rgba> const& colours) {
    int const w = cell * cellsX, h = cell * cellsY;
    gfx_test::Bytes px(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Rgba const& c = colours[size_t((y / cell) * cellsX + x / cell)];
            std::memcpy(&px[(size_t(y) * w + x) * 4], &c, 4);
        }
    return gfx_test::png(w, h, 4, px);
}

::testing::AssertionResult near(uint32_t actual, uint32_t expected, int tolerance = 2) {
    for (int shift = 0; shift < 32; shift += 8) {
        int const a = int(actual >> shift & 0xff), e = int(expected >> shift & 0xff);
        if (std::abs(a - e) > tolerance)
            return ::testing::AssertionFailure() << std::hex << "0x" << actual << " is not near 0x" << expected;
    }
    return ::testing::AssertionSuccess();
}

// Counts a few GL calls while passing them on to the driver.
struct CountingGl {
    static inline int texParameters = 0;
    static inline int textureBinds = 0;
    static inline std::vector<uint8_t> lastSubData;
    static inline GLintptr lastSubDataOffset = -1;
    static inline std::vector<std::pair<GLintptr, std::vector<uint8_t>>> subData;
    Graphics::ScopedGlFunctions scope{table()};

    CountingGl() {
        texParameters = textureBinds = 0;
        lastSubData.clear();
        lastSubDataOffset = -1;
        subData.clear();
    }
    static Graphics::GlFunctions table() {
        Graphics::GlFunctions t = Graphics::realGlFunctions();
        t.texParameteri = [](GLenum a, GLenum b, GLint c) {
            ++texParameters;
            Graphics::realGlFunctions().texParameteri(a, b, c);
        };
        t.bindTexture = [](GLenum a, GLuint b) {
            ++textureBinds;
            Graphics::realGlFunctions().bindTexture(a, b);
        };
        t.bufferSubData = [](GLenum target, GLintptr offset, GLsizeiptr size, void const* data) {
            lastSubDataOffset = offset;
            auto const* p = static_cast<uint8_t const*>(data);
            lastSubData.assign(p, p + size);
            subData.emplace_back(offset, lastSubData);
            Graphics::realGlFunctions().bufferSubData(target, offset, size, data);
        };
        return t;
    }
};

struct DrawingGl : gfx_test::GlContextFixture {
    testing_support::TempDir dir;

    void SetUp() override {
        GlContextFixture::SetUp();
        platform_services::setScreenSizes(kSide, kSide, kSide, kSide);
    }

    TextureDescriptor image(std::string const& name, gfx_test::Bytes const& bytes,
                            TextureOptions options = TextureOptions(0, 0, 0, 0)) {
        return TextureDescriptor(gfx_test::writeFile(dir / name, bytes), options, 2);
    }

    void clear(float r, float g, float b) {
        glClearColor(r, g, b, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    // Fills [x0, x1) x [y0, y1) of the bound target.
    void fill(int x0, int y0, int x1, int y1, float r, float g, float b) {
        glEnable(GL_SCISSOR_TEST);
        glScissor(x0, y0, x1 - x0, y1 - y0);
        clear(r, g, b);
        glDisable(GL_SCISSOR_TEST);
    }

    void useScreen(uint32_t mode) {
        shader->use(mode);
        shader->setPVM(screenProjection());
        ctx->setBlend(false);
    }
};

TEST_F(DrawingGl, TextureBindTouchesGlOnlyForWhatChanged) {
    auto const d = image("t.png", gfx_test::solidPng(4, 4, 255, 0, 0, 255), TextureOptions(0, 0, 0, 0));
    Texture nearest(ctx.get(), d);
    TextureDescriptor linearD = d;
    linearD.options = TextureOptions(1, 1, 1, 2);
    Texture linear(ctx.get(), linearD);
    EXPECT_EQ(nearest.width(), 4);  // from the header, before the pixels
    EXPECT_FALSE(nearest.isReady());
    ASSERT_TRUE(loadTextures());
    ASSERT_TRUE(nearest.isReady());
    EXPECT_EQ(nearest.glName(), linear.glName());

    CountingGl counting;
    nearest.bind(GL_TEXTURE0);
    int const binds = CountingGl::textureBinds;
    nearest.bind(GL_TEXTURE0);
    EXPECT_EQ(CountingGl::textureBinds, binds);
    EXPECT_EQ(CountingGl::texParameters, 0);
    linear.bind(GL_TEXTURE0);  // same GL texture: only the four options change
    EXPECT_EQ(CountingGl::textureBinds, binds);
    EXPECT_EQ(CountingGl::texParameters, 4);
    nearest.bind(GL_TEXTURE1);
    EXPECT_EQ(CountingGl::texParameters, 8);
    linear.bind(GL_TEXTURE0 + 9);  // past the cached units: nothing, not another texture's options
    EXPECT_EQ(CountingGl::texParameters, 8);

    // Copies and moves hold references; the entry goes with the last one.
    uint64_t const live = ctx->liveTextureCount();
    {
        Texture copy = nearest;
        Texture moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(moved.glName(), nearest.glName());
    }
    EXPECT_EQ(ctx->liveTextureCount(), live);
    Texture empty;
    empty.bind(GL_TEXTURE0);
    EXPECT_EQ(empty.glName(), 0u);
}

TEST_F(DrawingGl, SpritesSitAtTheirAnchorsInEveryShaderMode) {
    Sprite red(Texture(ctx.get(), image("red.png", gfx_test::solidPng(8, 8, 255, 0, 0, 255))), kAnchorTopLeft,
               glm::vec2(0), std::nullopt, glm::vec2(1));
    Sprite green(Texture(ctx.get(), image("green.png", gfx_test::solidPng(8, 8, 0, 255, 0, 255))),
                 kAnchorBottomRight, glm::vec2(0), std::nullopt, glm::vec2(1));
    Sprite grey(Texture(ctx.get(), image("grey.png", gfx_test::solidPng(8, 8, 128, 128, 128, 255))), kAnchorCenter,
                glm::vec2(0), glm::vec2(16, 16), glm::vec2(1));
    ASSERT_TRUE(loadTextures());

    clear(0, 0, 0);
    useScreen(StandardShader::kTextured);
    red.draw(*shader);
    green.draw(*shader);
    grey.draw(*shader);
    EXPECT_EQ(gl.pixel(2, 61), rgba(255, 0, 0));
    EXPECT_EQ(gl.pixel(9, 61), rgba(0, 0, 0));
    EXPECT_EQ(gl.pixel(61, 2), rgba(0, 255, 0));
    EXPECT_EQ(gl.pixel(56, 2), rgba(0, 255, 0));
    EXPECT_EQ(gl.pixel(55, 2), rgba(0, 0, 0));
    // Anchored by the texture's 8 x 8 pixels, drawn at the explicit 16 x 16 size.
    EXPECT_TRUE(near(gl.pixel(28, 28), rgba(128, 128, 128)));
    EXPECT_TRUE(near(gl.pixel(43, 43), rgba(128, 128, 128)));
    EXPECT_EQ(gl.pixel(27, 27), rgba(0, 0, 0));
    EXPECT_EQ(gl.pixel(44, 44), rgba(0, 0, 0));

    // Colour, ambient and colour-plus-ambient over the grey sprite.
    useScreen(StandardShader::kColor);
    shader->setColor(glm::vec4(1, 0.5f, 0, 1));
    grey.draw(*shader);
    EXPECT_TRUE(near(gl.pixel(32, 32), rgba(128, 64, 0)));
    useScreen(StandardShader::kAmbient);
    shader->setColor(glm::vec4(0, 0, 1, 1));
    grey.draw(*shader);
    EXPECT_TRUE(near(gl.pixel(32, 32), rgba(0, 0, 255)));
    useScreen(StandardShader::kColorAndAmbient);
    shader->setColor(glm::vec4(0.5f, 0.5f, 0.5f, 1));
    shader->setAmbientColor(glm::vec4(0, 0.25f, 0, 0));
    grey.draw(*shader);
    EXPECT_TRUE(near(gl.pixel(32, 32), rgba(64, 128, 64)));

    // The mask modes multiply by a second texture on unit 1 through the third attribute.
    auto drawMasked = [&](uint32_t mode) {
        useScreen(mode);
        green.texture().bind(GL_TEXTURE1);
        auto const uvs = reinterpret_cast<uintptr_t>(&grey.quad().corner(0).uv);
        shader->setVertexAttribute(0, 2, uvs, sizeof(Quad::Corner), 2, GL_FLOAT);
        grey.draw(*shader);
    };
    drawMasked(StandardShader::kMask);
    EXPECT_TRUE(near(gl.pixel(32, 32), rgba(0, 128, 0)));
    shader->use(StandardShader::kColorMask);
    shader->setColor(glm::vec4(1, 0.5f, 1, 1));
    drawMasked(StandardShader::kColorMask);
    EXPECT_TRUE(near(gl.pixel(32, 32), rgba(0, 64, 0)));
}

TEST_F(DrawingGl, QuadUvLayoutAndSpriteSheetFrames) {
    // Cells from the image's top row: red, green / blue, white.
    std::vector<Rgba> const cells = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 255, 255}};
    auto const sheet = image("sheet.png", cellPng(4, 2, 2, cells));
    Sprite whole(Texture(ctx.get(), sheet), kAnchorBottomLeft, glm::vec2(0), glm::vec2(kSide, kSide), glm::vec2(1));
    ASSERT_TRUE(loadTextures());

    clear(0, 0, 0);
    useScreen(StandardShader::kTextured);
    whole.draw(*shader);
    // The image's top row is at the top of the quad (y counted from the bottom).
    EXPECT_EQ(gl.pixel(8, 56), rgba(255, 0, 0));
    EXPECT_EQ(gl.pixel(56, 56), rgba(0, 255, 0));
    EXPECT_EQ(gl.pixel(8, 8), rgba(0, 0, 255));
    EXPECT_EQ(gl.pixel(56, 8), rgba(255, 255, 255));

    // One frame of the sheet at a time fills the quad.
    SpriteSheetAnimation animation(SpriteSheetAnimation::Parameters(2, 2, 4, 0, true, 10.0f));
    animation.restart();
    uint32_t const expected[] = {rgba(255, 0, 0), rgba(0, 255, 0), rgba(0, 0, 255), rgba(255, 255, 255)};
    for (int frame = 0; frame < 4; ++frame) {
        animation.update(frame == 0 ? 0.0f : 100.0f);
        animation.update(0.0f);  // the frame of the time reached
        Quad q(glm::vec2(0), glm::vec2(kSide, kSide), animation.getUvScale());
        q.offsetUV(animation.getUvOffset());
        drawQuadWithSprite(q, *shader, whole);
        EXPECT_EQ(gl.pixel(32, 32), expected[frame]) << "frame " << frame;
        EXPECT_EQ(gl.pixel(2, 61), expected[frame]) << "frame " << frame;
    }

    // A quad of size zero draws nothing.
    clear(0, 0, 0);
    Quad(glm::vec2(32, 32), glm::vec2(0), glm::vec2(1)).draw(*shader);
    EXPECT_EQ(gl.pixel(32, 32), rgba(0, 0, 0));

    // Two states: the selected one draws; ready only when both are.
    Sprite red(Texture(ctx.get(), image("r.png", gfx_test::solidPng(2, 2, 255, 0, 0, 255))), kAnchorBottomLeft,
               glm::vec2(0), glm::vec2(kSide, kSide), glm::vec2(1));
    TwoStateSprite twoStates(std::move(red), std::move(whole), 0);
    EXPECT_FALSE(twoStates.isReady());
    ASSERT_TRUE(loadTextures());
    EXPECT_TRUE(twoStates.isReady());
    // The texture pass draws with a program of its own; the mode chosen before it still holds.
    EXPECT_EQ(ctx->currentProgram(), shader->currentProgram().glName());
    twoStates.select(1);
    twoStates.draw(*shader);
    EXPECT_EQ(gl.pixel(8, 8), rgba(0, 0, 255));
    twoStates.select(0);
    twoStates.draw(*shader);
    EXPECT_EQ(gl.pixel(8, 8), rgba(255, 0, 0));
}

TEST_F(DrawingGl, SplashTurnsTowardItsVelocityAndShowsTheFrameOfItsTime) {
    Splash splash(ctx.get());
    // The archive's 64 x 64 sheet of 8 x 8 frames: one frame is 8 pixels at 85 pixels a unit.
    float const w = 8.0f / 85.0f;
    ASSERT_FLOAT_EQ(splash.size().x, w);
    glm::vec2 const p(1, 2);
    auto near2 = [](glm::vec2 a, glm::vec2 b) { return glm::length(a - b) < 1e-5f; };

    // Falling straight in at 15 units a second: upright, 1.5 times larger, twice as wide as high.
    splash.start(p, glm::vec2(0, -15));
    splash.update(20);
    splash.update(0);  // 20 ms at 60 frames a second: frame 1
    splash.orientToVelocity();
    EXPECT_TRUE(near2(splash.quad().corner(2).position, p + glm::vec2(-1.5f * w, 0)));
    EXPECT_TRUE(near2(splash.quad().corner(1).position, p + glm::vec2(1.5f * w, 1.5f * w)));
    EXPECT_TRUE(near2(splash.quad().corner(3).uv, glm::vec2(0.125f, 0)));
    EXPECT_TRUE(near2(splash.quad().corner(0).uv, glm::vec2(0.25f, 0.125f)));

    // Sideways: tilted by the 22-degree limit toward the velocity, about its bottom centre.
    float const c = std::cos(Splash::kMaximumAngle), sn = std::sin(Splash::kMaximumAngle);
    splash.start(p, glm::vec2(7.5f, 0));  // half the full-size speed: scale 1
    splash.orientToVelocity();
    EXPECT_TRUE(near2(splash.quad().corner(0).position, p + w * glm::vec2(c, sn)));
    EXPECT_TRUE(near2(splash.quad().corner(1).position, p + w * glm::vec2(c - sn, sn + c)));
    splash.start(p, glm::vec2(-7.5f, 0));
    splash.orientToVelocity();
    EXPECT_TRUE(near2(splash.quad().corner(0).position, p + w * glm::vec2(c, -sn)));

    // After its 64 frames it stops and draws nothing.
    for (int i = 0; i < 70; ++i) splash.update(16.6667f);
    EXPECT_FALSE(splash.isPlaying());
}

TEST_F(DrawingGl, IdenticalVertexBuffersShareOneGlBuffer) {
    static float const data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint64_t const before = ctx->bufferCount();
    Graphics::VertexBufferDescriptor const d(1, GL_ARRAY_BUFFER, sizeof data, data, GL_STATIC_DRAW);
    {
        Graphics::VertexBuffer a(ctx.get(), d);
        Graphics::VertexBuffer b(ctx.get(), d);
        Graphics::VertexBuffer dynamic(ctx.get(),
                                       Graphics::VertexBufferDescriptor(1, GL_ARRAY_BUFFER, sizeof data, data,
                                                                        GL_DYNAMIC_DRAW));
        EXPECT_NE(a.glName(), 0u);
        EXPECT_EQ(a.glName(), b.glName());
        EXPECT_NE(a.glName(), dynamic.glName());
        EXPECT_EQ(ctx->bufferCount(), before + 2);
        Graphics::VertexBuffer copy = a;
        Graphics::VertexBuffer moved = std::move(b);
        EXPECT_EQ(copy.glName(), a.glName());
        EXPECT_EQ(moved.glName(), a.glName());
    }
    EXPECT_EQ(ctx->bufferCount(), before);
}

// A level of one array quad (x, y, z, u, v per vertex, after one unrelated vertex) and one
// indexed entry, both culled by their boxes.
PristineLevel::MeshSet quadLevel() {
    PristineLevel::MeshSet set;
    std::vector<float> v = {9, 9, 9, 9, 9};
    float const quad[] = {1, 0, 0, 1, 1, 1, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0};
    v.insert(v.end(), quad, quad + 20);
    set.vertexBuffers.push_back({gfx_test::bytesOf(v), 0});
    PristineLevel::ArrayMesh mesh;
    mesh.position = {0, 2, 3};
    mesh.uv = {12, 2, 2};
    mesh.stride = 20;
    mesh.baseOffset = 20;  // the first vertex, numbered 1
    mesh.firstVertex = 1;
    mesh.vertexCount = 4;
    mesh.color = glm::vec4(1);
    set.arrayMeshes.push_back(mesh);
    set.nodes.push_back(gfx_test::node(PristineLevel::MeshNode::arrayEntry, 0, 0.5f, 0.5f, 0.5f));
    return set;
}

TEST_F(DrawingGl, QuadInstancesMoveTheirVerticesAndUploadOnlyWhenShownAndVisible) {
    PristineLevel::MeshSet const level = quadLevel();
    DrawList list(ctx.get(), level, nullptr, nullptr);
    QuadInstance quad(level, list, 0);
    ASSERT_TRUE(quad.isValid());
    // The entry's vertices start at its first vertex.
    EXPECT_EQ(quad.localVertices()[0], 1.0f);
    EXPECT_EQ(quad.localVertices()[3], 1.0f);
    EXPECT_EQ(quad.localVertices()[18], 0.0f);

    quad.setTransform(glm::translate(glm::mat4(1.0f), glm::vec3(10, 0, 0)));
    quad.setUVOffset(glm::vec2(0.5f, 0));
    quad.update(true, true);
    EXPECT_EQ(quad.worldVertices()[0], 11.0f);
    EXPECT_EQ(quad.worldVertices()[3], 1.5f);

    CountingGl counting;
    list.updateGL(gfx_test::window(-5, 5, -5, 5));  // the moved box is out of view
    quad.upload(ctx.get());
    EXPECT_EQ(CountingGl::lastSubDataOffset, -1);

    list.updateGL(gfx_test::window(5, 15, -5, 5));
    quad.upload(ctx.get());
    ASSERT_EQ(CountingGl::lastSubDataOffset, 20);
    ASSERT_EQ(CountingGl::lastSubData.size(), 80u);
    float written[20];
    std::memcpy(written, CountingGl::lastSubData.data(), 80);
    EXPECT_EQ(written[0], 11.0f);
    EXPECT_EQ(written[3], 1.5f);
    EXPECT_EQ(written[15], 10.0f);  // last vertex x

    // Hidden: neither updates nor uploads.
    quad.hide();
    quad.setTransform(glm::mat4(1.0f));
    quad.update(true, false);
    EXPECT_EQ(quad.worldVertices()[0], 11.0f);
    CountingGl::lastSubDataOffset = -1;
    quad.upload(ctx.get());
    EXPECT_EQ(CountingGl::lastSubDataOffset, -1);
    quad.show();
    quad.setColor(glm::vec4(0.5f));
    EXPECT_EQ(*quad.colorPointer(), glm::vec4(0.5f));

    // An index past the level, or an entry whose vertices lie past its buffer, does nothing.
    QuadInstance none(level, list, 7);
    EXPECT_FALSE(none.isValid());
    none.update(true, true);
    none.upload(ctx.get());
    PristineLevel::MeshSet damaged = quadLevel();
    damaged.arrayMeshes[0].baseOffset = 20000;
    DrawList damagedList(ctx.get(), damaged, nullptr, nullptr);
    QuadInstance outside(damaged, damagedList, 0);
    EXPECT_FALSE(outside.isValid());
    outside.upload(ctx.get());
}

// Tightly packed vertices (stride 0): the four positions (x, y, z, w) in one run and the four
// uvs in another, as the draw list reads them. The instance steps each run by its attribute's
// size, reads and writes back its own corners, and keeps the w it does not move.
TEST_F(DrawingGl, QuadInstancesOfTightlyPackedVerticesStepEachAttributeBySize) {
    PristineLevel::MeshSet set;
    std::vector<float> v = {1, 0, 0, 7, 1, 1, 0, 7, 0, 0, 0, 7, 0, 1, 0, 7,  // positions
                            1, 1, 1, 0, 0, 1, 0, 0};                         // uvs
    set.vertexBuffers.push_back({gfx_test::bytesOf(v), 2});
    PristineLevel::ArrayMesh mesh;
    mesh.position = {0, 2, 4};
    mesh.uv = {64, 2, 2};
    mesh.stride = 0;
    mesh.vertexCount = 4;
    mesh.color = glm::vec4(1);
    set.arrayMeshes.push_back(mesh);
    set.nodes.push_back(gfx_test::node(PristineLevel::MeshNode::arrayEntry, 0, 0.5f, 0.5f, 0.5f));
    DrawList list(ctx.get(), set, nullptr, nullptr);
    QuadInstance quad(set, list, 0);
    ASSERT_TRUE(quad.isValid());
    std::array<float, 20> const expected = {1, 0, 0, 1, 1, 1, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0};
    EXPECT_EQ(quad.localVertices(), expected);

    quad.setTransform(glm::translate(glm::mat4(1.0f), glm::vec3(2, 0, 0)));
    quad.update(true, true);
    CountingGl counting;
    list.updateGL(gfx_test::window(0, 5, -5, 5));
    quad.upload(ctx.get());
    ASSERT_EQ(CountingGl::subData.size(), 2u);
    auto floats = [](std::vector<uint8_t> const& bytes) {
        std::vector<float> f(bytes.size() / 4);
        std::memcpy(f.data(), bytes.data(), f.size() * 4);
        return f;
    };
    EXPECT_EQ(CountingGl::subData[0].first, 0);
    EXPECT_EQ(floats(CountingGl::subData[0].second),
              (std::vector<float>{3, 0, 0, 7, 3, 1, 0, 7, 2, 0, 0, 7, 2, 1, 0}));
    EXPECT_EQ(CountingGl::subData[1].first, 64);
    EXPECT_EQ(floats(CountingGl::subData[1].second), (std::vector<float>{1, 1, 1, 0, 0, 1, 0, 0}));
}

// A refit with no vertices, or with one that is not a number, stores the inverted box, so the
// drawable leaves every view instead of staying under its last box.
TEST_F(DrawingGl, DrawBoundsOfNoOrNonFiniteVerticesAreTheInvertedBox) {
    PristineLevel::MeshSet const level = quadLevel();
    DrawList list(ctx.get(), level, nullptr, nullptr);
    DrawList::Handle const& handle = list.handleRecord(0);
    ASSERT_NE(handle.leaf, nullptr);
    auto inverted = [&] {
        return handle.leaf->volume.Mins() == btVector3(FLT_MAX, FLT_MAX, FLT_MAX) &&
               handle.leaf->volume.Maxs() == btVector3(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    };
    float const corners[] = {0, 0, 0, 1, 1, 0};
    float const broken[] = {0, 0, 0, NAN, 1, 0};
    for (auto refit : std::initializer_list<std::function<void()>>{
             [&] { updateDrawBounds(list.tree(), handle.leaf, corners, 0, 3); },
             [&] { updateDrawBounds(list.tree(), handle.leaf, broken, 2, 3); }}) {
        updateDrawBounds(list.tree(), handle.leaf, corners, 2, 3);
        list.updateGL(gfx_test::window(-5, 5, -5, 5));
        ASSERT_TRUE(list.isVisible(handle));
        refit();
        EXPECT_TRUE(inverted());
        list.updateGL(gfx_test::window(-5, 5, -5, 5));
        EXPECT_FALSE(list.isVisible(handle));
    }
}

struct PostProcessingGl : DrawingGl {
    // One frame as the app frame runs it; the screen's drawing goes into the scene target.
    template <class Scene>
    void frame(PostProcessingStep& pp, float dt, Scene&& drawScene) {
        pp.update(dt);
        pp.updateColors();
        pp.drawBackdrop(ctx.get(), shader.get());
        drawScene();
        pp.present(ctx.get(), shader.get());
    }
    void redGreen(PostProcessingStep& pp) {
        glm::ivec2 const s = pp.currentSize();
        fill(0, 0, s.x / 2, s.y, 1, 0, 0);
        fill(s.x / 2, 0, s.x, s.y, 0, 1, 0);
    }
};

TEST_F(PostProcessingGl, CompositeAppliesTheMultiplyAndAddTweens) {
    PostProcessingStep pp(ctx.get(), glm::ivec2(kSide), glm::ivec2(kSide), true);
    frame(pp, 16, [&] { clear(1, 0, 0); });
    EXPECT_EQ(gl.pixel(32, 32), rgba(255, 0, 0));

    // Half way from white to black.
    pp.fadeColor(glm::vec3(1), glm::vec3(0), 0.01f);
    EXPECT_TRUE(pp.isColorFading());
    frame(pp, 50, [&] { clear(1, 1, 1); });
    EXPECT_TRUE(near(gl.pixel(32, 32), rgba(128, 128, 128)));
    frame(pp, 50, [&] {});
    EXPECT_TRUE(pp.isColorFading());  // finished only on the update after reaching 1
    frame(pp, 1, [&] { clear(1, 1, 1); });
    EXPECT_FALSE(pp.isColorFading());
    EXPECT_EQ(pp.multiplyTween().state, PostProcessingStep::ColorTween::kFinished);
    EXPECT_EQ(gl.pixel(32, 32), rgba(0, 0, 0));

    // An add colour turns on the colour-plus-ambient composite.
    pp.fadeColor(glm::vec3(0.5f), glm::vec3(0.5f), 1);
    pp.fadeAddColor(glm::vec3(0), glm::vec3(0, 0, 1), 1);
    frame(pp, 1, [&] { clear(1, 1, 0); });
    EXPECT_TRUE(near(gl.pixel(32, 32), rgba(128, 128, 255)));

    // Speed 0 stays at the from colour and never finishes.
    pp.fadeAddColor(glm::vec3(0), glm::vec3(1), 0);
    pp.fadeColor(glm::vec3(1), glm::vec3(0), 0);
    for (int i = 0; i < 5; ++i) frame(pp, 33, [&] { clear(0, 1, 0); });
    EXPECT_EQ(gl.pixel(32, 32), rgba(0, 255, 0));
    EXPECT_TRUE(pp.isColorFading());
}

TEST_F(PostProcessingGl, CaptureFreezesTheSceneAsABlurredTintedBackdrop) {
    PostProcessingStep pp(ctx.get(), glm::ivec2(kSide), glm::ivec2(kSide), true);
    pp.requestCapture();
    EXPECT_TRUE(pp.isCaptureRequested());
    frame(pp, 16, [&] { redGreen(pp); });
    EXPECT_TRUE(pp.hasCapture());
    EXPECT_FALSE(pp.isCaptureRequested());

    // The backdrop stands in for a scene that is no longer drawn; the tint is still clear.
    frame(pp, 16, [] {});
    EXPECT_EQ(gl.pixel(4, 32), rgba(255, 0, 0));
    EXPECT_EQ(gl.pixel(60, 32), rgba(0, 255, 0));

    // Fade the blurred copy in: its alpha stops at 0.75, so the sharp capture still shows at 0.25.
    pp.setBackdropFadeSpeed(0.1f);
    pp.startBackdropFadeIn();
    EXPECT_TRUE(pp.checkBackdropFadeIn());
    for (int i = 0; i < 3; ++i) frame(pp, 16, [] {});
    EXPECT_EQ(pp.backdropFade(), 1.0f);
    EXPECT_EQ(pp.backdropFadeState(), PostProcessingStep::kFadeRisen);
    uint32_t const edgeLeft = gl.pixel(31, 32), edgeRight = gl.pixel(32, 32);
    EXPECT_GT(edgeLeft & 0xff, 100u);  // mostly red, with some green blurred across
    EXPECT_GT(edgeLeft >> 8 & 0xff, 20u);
    EXPECT_GT(edgeRight >> 8 & 0xff, 100u);
    EXPECT_GT(edgeRight & 0xff, 20u);
    EXPECT_TRUE(near(gl.pixel(2, 32), rgba(255, 0, 0), 4));  // far from the edge the blur is flat

    // A red backdrop colour tints the blurred layer: green keeps only the sharp quarter.
    pp.fadeBackdropColor(glm::vec3(1), glm::vec3(1, 0, 0), 1);
    EXPECT_TRUE(pp.isBackdropColorFading());
    frame(pp, 1, [] {});
    EXPECT_TRUE(near(gl.pixel(60, 32), rgba(0, 64, 0), 3));
    EXPECT_TRUE(near(gl.pixel(2, 32), rgba(255, 0, 0), 4));

    // Monochrome: the sharp layer in grey.
    pp.setMonochromeAmount(0);
    pp.fadeBackdropColor(glm::vec3(0), glm::vec3(0), 1);
    frame(pp, 1, [] {});
    EXPECT_TRUE(near(gl.pixel(2, 32), rgba(19, 19, 19), 3));  // 0.25 x 0.299 x 255

    // Fading out, then releasing, brings the live scene back.
    pp.startBackdropFadeOut();
    for (int i = 0; i < 2; ++i) frame(pp, 16, [] {});
    EXPECT_EQ(pp.backdropFadeState(), PostProcessingStep::kFadeIdle);
    pp.releaseCapture();
    EXPECT_FALSE(pp.hasCapture());
    frame(pp, 16, [&] { clear(0, 0, 1); });
    EXPECT_EQ(gl.pixel(4, 32), rgba(0, 0, 255));

    // Fading out from nothing is over at the next update.
    pp.startBackdropFadeOut();
    frame(pp, 16, [] {});
    EXPECT_EQ(pp.backdropFadeState(), PostProcessingStep::kFadeIdle);
}

// Once the backdrop holds still its layers are drawn once into a texture; each frame then copies
// that, straight onto the display when the composite would only copy it. The picture stays the
// same to the bit, a translucent menu over it included, and a new capture is never shown stale.
TEST_F(PostProcessingGl, ASteadyBackdropIsDrawnOnceAndLooksTheSame) {
    static int draws = 0;
    Graphics::GlFunctions counting = Graphics::realGlFunctions();
    counting.drawArrays = [](GLenum mode, GLint first, GLsizei count) {
        ++draws;
        Graphics::realGlFunctions().drawArrays(mode, first, count);
    };
    Graphics::ScopedGlFunctions scope(counting);
    auto menu = [&](PostProcessingStep& pp) {
        fill(8, 8, 24, 24, 0, 0, 1);
        glEnable(GL_SCISSOR_TEST);
        glScissor(20, 30, 30, 20);
        ctx->setBlend(true);
        shader->use(StandardShader::kColor);
        shader->setPVM(glm::mat4(1.0f));
        shader->setColor(glm::vec4(0.3f, 0.1f, 0.2f, 0.5f));
        ctx->bindTextureUnit(GL_TEXTURE0, pp.blurredCaptureTexture());
        auto const quad = reinterpret_cast<uintptr_t>(pp.fullScreenQuad());
        shader->setVertexAttribute(0, 0, quad, 16, 2, GL_FLOAT);
        shader->setVertexAttribute(0, 1, quad + 8, 16, 2, GL_FLOAT);
        shader->drawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glDisable(GL_SCISSOR_TEST);
    };
    // `steadyDraws` counts the menu's one draw.
    auto check = [&](PostProcessingStep& pp, std::function<void()> const& scene, int steadyDraws) {
        pp.requestCapture();
        frame(pp, 16, scene);
        pp.setBackdropFadeSpeed(0.1f);
        pp.startBackdropFadeIn();
        // A tint that changes every frame keeps both layers drawn each time.
        glm::vec3 const tints[] = {glm::vec3(0.5f), glm::vec3(0.9f, 0.6f, 0.3f)};
        for (int i = 0; i < 4; ++i) {
            pp.fadeBackdropColor(tints[i % 2], tints[i % 2], 1);
            draws = 0;
            frame(pp, 16, [&] { menu(pp); });
        }
        EXPECT_EQ(draws, 4);
        std::vector<uint8_t> const layered = gl.readPixels();
        for (int i = 0; i < 3; ++i) {
            draws = 0;
            frame(pp, 16, [&] { menu(pp); });
            EXPECT_TRUE(gl.readPixels() == layered) << "steady frame " << i;
        }
        EXPECT_EQ(draws, steadyDraws);
        pp.startBackdropFadeOut();
        pp.releaseCapture();
    };
    {
        PostProcessingStep pp(ctx.get(), glm::ivec2(kSide), glm::ivec2(kSide), true);
        check(pp, [&] { redGreen(pp); }, 2);
        check(pp, [&] { fill(0, 0, kSide, kSide, 0, 0, 1), fill(0, 0, 40, 20, 1, 1, 0); }, 2);
        // Colour grading and grey keep the composite.
        pp.fadeColor(glm::vec3(0.8f), glm::vec3(0.8f), 1);
        pp.setMonochromeAmount(0.3f);
        check(pp, [&] { redGreen(pp); }, 3);
    }
    // A scene smaller than the display is still stretched by the composite.
    PostProcessingStep scaled(ctx.get(), glm::ivec2(kSide / 2), glm::ivec2(kSide), true);
    check(scaled, [&] { redGreen(scaled); }, 3);
}

TEST_F(PostProcessingGl, LowEndSceneRunsAtHalfSizeUntilACaptureIsRequested) {
    {
        // Not low-end: the permission changes nothing.
        PostProcessingStep pp(ctx.get(), glm::ivec2(kSide), glm::ivec2(kSide), true);
        pp.allowReducedResolution();
        pp.update(16);
        EXPECT_EQ(pp.renderScale(), 1.0f);
    }
    setenv("ZELV_DEVICE_MODEL", "iPhone3,1", 1);
    PostProcessingStep pp(ctx.get(), glm::ivec2(kSide), glm::ivec2(kSide), true);
    pp.allowReducedResolution();
    frame(pp, 16, [&] {
        clear(0, 0, 1);  // outside the half-size region: never shown
        redGreen(pp);
    });
    EXPECT_EQ(pp.renderScale(), 0.5f);
    EXPECT_EQ(pp.currentSize(), glm::ivec2(32));
    EXPECT_EQ(pp.quadCorner(1).uv, glm::vec2(0.5f, 0.5f));
    // The half-size scene fills the display.
    EXPECT_EQ(gl.pixel(4, 60), rgba(255, 0, 0));
    EXPECT_EQ(gl.pixel(28, 4), rgba(255, 0, 0));
    EXPECT_EQ(gl.pixel(36, 60), rgba(0, 255, 0));
    EXPECT_EQ(gl.pixel(60, 4), rgba(0, 255, 0));

    // Without the permission the next frame is full size again.
    frame(pp, 16, [&] { redGreen(pp); });
    EXPECT_EQ(pp.renderScale(), 1.0f);

    // A capture request overrides the permission, so the capture is taken at full size.
    pp.allowReducedResolution();
    frame(pp, 16, [&] { redGreen(pp); });
    EXPECT_EQ(pp.currentSize(), glm::ivec2(32));
    pp.requestCapture();
    pp.allowReducedResolution();
    frame(pp, 16, [&] {
        EXPECT_EQ(pp.currentSize(), glm::ivec2(kSide));
        redGreen(pp);
    });
    EXPECT_TRUE(pp.hasCapture());
    EXPECT_EQ(pp.quadCorner(1).uv, glm::vec2(1.0f, 1.0f));
    frame(pp, 16, [] {});
    EXPECT_EQ(gl.pixel(4, 60), rgba(255, 0, 0));
    EXPECT_EQ(gl.pixel(60, 4), rgba(0, 255, 0));

    // The draw list's effect layers bind the smaller targets at the matching viewports.
    DrawList::EffectTargets& targets = pp;
    EXPECT_NE(targets.halfTargetTexture(), 0u);
    EXPECT_NE(targets.quarterTargetTexture(), targets.halfTargetTexture());
    EXPECT_EQ(targets.fullScreenQuad()[0], 1.0f);
    EXPECT_EQ(targets.fullScreenQuad()[13], 1.0f);  // last corner's y
}

}  // namespace
