// The draw list and the gold particles on Mesa's GL ES 2.0, with the shaders and art of the
// built data archive.
#include <gtest/gtest.h>

#include <glm/gtc/matrix_transform.hpp>

#include "graphics/Context.h"
#include "graphics/DrawList.h"
#include "graphics/Drawable.h"
#include "graphics/GoldParticles.h"
#include "graphics/QuadInstance.h"
#include "graphics/StandardShader.h"
#include "graphics/tests/GlContextFixture.h"
#include "graphics/tests/MeshTestData.h"
#include "graphics/tests/TestImages.h"
#include "level/LevelReader.h"
#include "physics/particles/PhysicsWorld.h"
#include "testing/TestPaths.h"

using Graphics::Context;
using testing_support::rgba;

namespace {

using PristineLevel::MeshNode;

struct DrawListGl : gfx_test::GlContextFixture {
    testing_support::TempDir dir;

    void SetUp() override {
        GlContextFixture::SetUp();
        if (ctx) ctx->projectionView() = glm::mat4(1.0f);
    }

    void clear() {
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    // The colour shader tints its texture: the quads carry a white one.
    TextureDescriptor white() {
        return TextureDescriptor(gfx_test::writeFile(dir / "white.png", gfx_test::solidPng(4, 4, 255, 255, 255, 255)),
                                 TextureOptions(0, 0, 0, 0), 0);
    }
};

DrawList::View everything() { return gfx_test::window(-10, 10, -10, 10); }

// A quad as a triangle strip over [x0, x1] x [y0, y1] in clip space.
void pushQuad(std::vector<float>& v, float x0, float y0, float x1, float y1) {
    float const q[] = {x0, y0, x1, y0, x0, y1, x1, y1};
    v.insert(v.end(), q, q + 8);
}

// A level whose one vertex buffer holds a quad over the whole target.
PristineLevel::MeshSet fullScreenQuadLevel() {
    std::vector<float> v;
    pushQuad(v, -1, -1, 1, 1);
    PristineLevel::MeshSet set;
    set.vertexBuffers.push_back({gfx_test::bytesOf(v), 1});
    return set;
}

PristineLevel::ArrayMesh colourQuad(std::uint32_t first, glm::vec4 colour, TextureDescriptor const& texture) {
    PristineLevel::ArrayMesh m = gfx_test::arrayMesh(first, 4);
    m.texture = texture;
    m.shader = PristineLevel::MeshCommon::colorShader;
    m.color = colour;
    return m;
}

MeshNode nodeFor(std::uint16_t kind, std::uint32_t index, float x = 0) { return gfx_test::node(kind, index, x, 0, 1); }

}  // namespace

TEST_F(DrawListGl, MeshesDrawByTheirColourRules) {
    std::vector<float> v;
    pushQuad(v, -1, 0, 0, 1);   // quad 0: top left
    pushQuad(v, 0, 0, 1, 1);    // quad 1: top right
    pushQuad(v, -1, -1, 0, 0);  // quad 2: bottom left
    pushQuad(v, 0, -1, 1, 0);   // quad 3: bottom right
    PristineLevel::MeshSet set;
    set.vertexBuffers.push_back({gfx_test::bytesOf(v), 1});
    set.indexBuffers.push_back({{0, 0, 1, 0, 2, 0, 3, 0}, 1});
    TextureDescriptor const tex = white();
    set.arrayMeshes = {colourQuad(0, {1, 0, 0, 1}, tex), colourQuad(4, {0, 0, 0, 0}, tex),
                       colourQuad(8, {0, 1, 0, 1}, tex)};
    PristineLevel::IndexedMesh blue;
    blue.texture = tex;
    blue.baseOffset = 3 * 32;
    blue.position = {0, 2, 2};
    blue.stride = 8;
    blue.shader = PristineLevel::MeshCommon::colorShader;
    blue.color = {0, 0, 1, 1};
    blue.primitive = 0;
    blue.indexType = 1;
    blue.indexCount = 4;
    set.indexedMeshes = {blue};
    set.nodes = {nodeFor(MeshNode::arrayEntry, 0), nodeFor(MeshNode::arrayEntry, 1), nodeFor(MeshNode::arrayEntry, 2),
                 nodeFor(MeshNode::indexedEntry, 0)};

    DrawList list(ctx.get(), set, nullptr, nullptr);
    Drawable green(set, &list, 2);
    green.hide();
    list.updateGL(everything());
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(list.isVisible(list.handleRecord(i)));  // culled in, whether drawn or not
    }
    // Textures still decoding: nothing is drawn rather than drawn untextured.
    clear();
    list.draw(ctx.get(), shader.get());
    EXPECT_EQ(gl.pixel(16, 48), rgba(0, 0, 0, 0));
    ASSERT_TRUE(loadTextures());
    clear();
    list.draw(ctx.get(), shader.get());
    EXPECT_EQ(gl.pixel(16, 48), rgba(255, 0, 0, 255));
    EXPECT_EQ(gl.pixel(48, 48), rgba(0, 0, 0, 0));  // colour (0, 0, 0, 0): never drawn
    EXPECT_EQ(gl.pixel(16, 16), rgba(0, 0, 0, 0));  // hidden
    EXPECT_EQ(gl.pixel(48, 16), rgba(0, 0, 255, 255));

    green.show();
    clear();
    list.draw(ctx.get(), shader.get());
    EXPECT_EQ(gl.pixel(16, 16), rgba(0, 255, 0, 255));

    // New vertices for the visible green quad move it onto the top right.
    std::vector<float> moved;
    pushQuad(moved, 0, 0, 1, 1);
    green.uploadVertices(ctx.get(), moved.data(), moved.size() * 4);
    green.uploadVertices(ctx.get(), moved.data(), 1 << 20);  // past the buffer: refused
    clear();
    list.draw(ctx.get(), shader.get());
    EXPECT_EQ(gl.pixel(48, 48), rgba(0, 255, 0, 255));
    EXPECT_EQ(gl.pixel(16, 16), rgba(0, 0, 0, 0));
}

namespace {

// Effect targets of our own: the half and quarter targets are framebuffers with textures.
struct Targets : DrawList::EffectTargets {
    Context* ctx;
    Graphics::FramebufferSlot* half;
    Graphics::FramebufferSlot* quarter;
    GLuint scene;
    float quad[16] = {-1, -1, 0, 0, 1, -1, 1, 0, -1, 1, 0, 1, 1, 1, 1, 1};
    Targets(Context* c, GLuint sceneFramebuffer) : ctx(c), scene(sceneFramebuffer) {
        half = ctx->createFramebuffer(32, 32, TextureOptions(1, 1, 0, 0), GL_RGBA);
        quarter = ctx->createFramebuffer(16, 16, TextureOptions(1, 1, 0, 0), GL_RGBA);
    }
    void bindHalfTarget() override {
        ctx->bindFramebuffer(half->framebuffer);
        glViewport(0, 0, 32, 32);
    }
    int quarterBinds = 0;
    void bindQuarterTarget() override {
        ++quarterBinds;
        ctx->bindFramebuffer(quarter->framebuffer);
        glViewport(0, 0, 16, 16);
    }
    void bindSceneTarget() override {
        ctx->bindFramebuffer(scene);
        glViewport(0, 0, 64, 64);
    }
    GLuint halfTargetTexture() const override { return half->texture; }
    GLuint quarterTargetTexture() const override { return quarter->texture; }
    float const* fullScreenQuad() const override { return quad; }
};

struct Gold : DrawList::WorldDrawers {
    GoldParticles* gold = nullptr;
    std::size_t particleEmitterCount() const override { return 0; }
    void drawParticleEmitter(std::size_t, Context*, Graphics::StandardShader*) override {}
    void drawPlayer(Context*, Graphics::StandardShader*) override {}
    std::size_t fluidVolumeCount() const override { return 0; }
    void drawFluidVolume(std::size_t, Context*, Graphics::StandardShader*) override {}
    GoldParticles* goldParticles() override { return gold; }
};

}  // namespace

TEST_F(DrawListGl, ASamplerMeshNumberedWithinItsBufferDrawsAndMovesItsOwnVertices) {
    auto const file = Singleton<FileSystem>::instance().open("levels/sampler.pxl");
    ASSERT_TRUE(file && file->size() > 0);
    PristineLevel::Data level;
    loadPristineLevel(level, file->data(), file->size());
    PristineLevel::MeshSet const& set = level.meshSet;
    std::size_t numbered = set.nodes.size();
    for (std::size_t i = 0; i < set.nodes.size(); ++i) {
        MeshNode const& n = set.nodes[i];
        if (n.kind == MeshNode::arrayEntry && n.index < set.arrayMeshes.size() &&
            set.arrayMeshes[n.index].firstVertex != 0) {
            numbered = i;
        }
    }
    ASSERT_LT(numbered, set.nodes.size()) << "the sampler has a mesh with a non-zero first vertex";

    DrawList list(ctx.get(), set, nullptr, nullptr);
    std::vector<std::uint32_t> others;
    for (std::size_t i = 0; i < set.nodes.size(); ++i) {
        if (i != numbered) others.push_back(std::uint32_t(i));
    }
    for (Drawable& d : Drawable::createDrawables(set, &list, others)) d.hide();
    // The quad fills the middle half of the target: pixels 16 to 47 both ways.
    glm::vec4 const lo = set.nodes[numbered].box.min;
    glm::vec4 const hi = set.nodes[numbered].box.max;
    float const w = hi.x - lo.x;
    float const h = hi.y - lo.y;
    ctx->projectionView() = glm::ortho(lo.x - w / 2, hi.x + w / 2, lo.y - h / 2, hi.y + h / 2);
    DrawList::View const around = gfx_test::window(lo.x - 10, hi.x + 10, lo.y - 10, hi.y + 10);
    ASSERT_TRUE(loadTextures());
    auto drawn = [&](int x, int y) { return gl.pixel(x, y) != rgba(0, 0, 0, 0); };

    list.updateGL(around);
    clear();
    list.draw(ctx.get(), shader.get());
    EXPECT_TRUE(drawn(20, 32));
    EXPECT_TRUE(drawn(44, 32));
    EXPECT_FALSE(drawn(8, 32));
    EXPECT_FALSE(drawn(56, 32));

    // Moved half its width to the right, through the same vertices the list draws.
    QuadInstance quad(set, list, numbered);
    ASSERT_TRUE(quad.isValid());
    EXPECT_EQ(quad.localVertices()[0], lo.x);
    quad.setTransform(glm::translate(glm::mat4(1.0f), glm::vec3(w / 2, 0, 0)));
    quad.update(true, true);
    list.updateGL(around);
    quad.upload(ctx.get());
    clear();
    list.draw(ctx.get(), shader.get());
    EXPECT_FALSE(drawn(20, 32));
    EXPECT_TRUE(drawn(44, 32));
    EXPECT_TRUE(drawn(56, 32));
}

static ParticleDef particleAt(float x, float y) {
    ParticleDef def;
    def.position.Set(x, y);
    return def;
}

TEST_F(DrawListGl, GoldParticlesAverageAndDrawThroughTheEffectLayer) {
    PhysicsWorld physics(b2Vec2(0.0f, -10.0f));
    physics.CreateParticle(particleAt(0.0f, 0.0f));
    physics.CreateParticle(particleAt(2.0f, 4.0f));
    GoldParticles gold(ctx.get(), &physics, 16.0f);
    EXPECT_EQ(gold.averagePosition(), glm::vec2(1.0f, 2.0f));
    gold.setScale(0.5f);
    EXPECT_EQ(gold.pointSize(), 8.0f);
    gold.setScale(1.0f);
    ASSERT_TRUE(loadTextures());

    // World (0, 0) .. (2, 4) onto clip space (-0.5, -0.5) .. (0.5, 0.5).
    ctx->projectionView() = glm::mat4(0.5f, 0, 0, 0, 0, 0.25f, 0, 0, 0, 0, 1, 0, -0.5f, -0.5f, 0, 1);

    Targets targets(ctx.get(), gl.framebuffer());
    ASSERT_NE(targets.half, nullptr);
    Gold world;
    world.gold = &gold;
    PristineLevel::MeshSet set;
    set.nodes = {nodeFor(MeshNode::goldParticles, 0), nodeFor(MeshNode::goldComposite, 0)};
    DrawList list(ctx.get(), set, &world, &targets);
    list.updateGL(everything());
    ASSERT_EQ(list.visibleHandles().size(), 2u);
    EXPECT_EQ(list.visibleHandles()[0]->kind, DrawList::kGoldParticles);

    clear();
    list.drawEffectLayers(ctx.get(), shader.get());
    EXPECT_EQ(ctx->currentFramebuffer(), gl.framebuffer());  // back on the scene target
    EXPECT_EQ(targets.quarterBinds, 0);                       // no light layers in this level

    // The effect layer holds the two points: read it back from the half target.
    ctx->bindFramebuffer(targets.half->framebuffer);
    std::uint8_t px[4] = {0, 0, 0, 0};
    glReadPixels(8, 8, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);  // particle at (0, 0)
    EXPECT_GT(px[0] + px[1] + px[2] + px[3], 0);
    glReadPixels(24, 24, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);  // particle at (2, 4)
    EXPECT_GT(px[0] + px[1] + px[2] + px[3], 0);
    glReadPixels(24, 8, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);  // nothing there
    EXPECT_EQ(px[0] + px[1] + px[2] + px[3], 0);
    ctx->bindFramebuffer(gl.framebuffer());

    // The composite colours the scene where the particles are, and only there.
    clear();
    list.draw(ctx.get(), shader.get());
    std::uint32_t const atParticle = gl.pixel(16, 16);
    EXPECT_NE(atParticle & 0xFFFFFFu, 0u);
    EXPECT_EQ(gl.pixel(48, 16), rgba(0, 0, 0, 0));
}

TEST_F(DrawListGl, LightLayersMultiplyTheScene) {
    TextureDescriptor const tex = white();
    PristineLevel::MeshSet set = fullScreenQuadLevel();
    set.arrayMeshes = {colourQuad(0, {1, 1, 0, 1}, tex), colourQuad(0, {0.5f, 0.25f, 1, 1}, tex)};
    set.arrayMeshes[1].blend = 1;
    set.nodes = {nodeFor(MeshNode::arrayEntry, 0), nodeFor(MeshNode::lightLayer, 1)};
    Targets targets(ctx.get(), gl.framebuffer());
    DrawList list(ctx.get(), set, nullptr, &targets);
    ASSERT_TRUE(loadTextures());
    list.updateGL(everything());
    clear();
    list.drawEffectLayers(ctx.get(), shader.get());
    EXPECT_EQ(targets.quarterBinds, 1);
    list.draw(ctx.get(), shader.get());
    // Yellow scene times the light layer's (0.5, 0.25, 1).
    std::uint32_t const p = gl.pixel(32, 32);
    EXPECT_NEAR(int(p & 0xFF), 128, 2);
    EXPECT_NEAR(int(p >> 8 & 0xFF), 64, 2);
    EXPECT_EQ(int(p >> 16 & 0xFF), 0);
}

TEST_F(DrawListGl, OnDemandTexturesAreNumberedNearestLast) {
    auto page = [&](char const* name) {
        return TextureDescriptor(gfx_test::writeFile(dir / name, gfx_test::solidPng(1024, 1024, 10, 20, 30, 255)),
                                 TextureOptions(1, 1, 0, 0), 0);
    };
    TextureDescriptor const shared = page("shared.png");
    TextureDescriptor const other = page("other.png");
    PristineLevel::MeshSet set = fullScreenQuadLevel();
    set.arrayMeshes = {colourQuad(0, {1, 1, 1, 1}, shared), colourQuad(0, {1, 1, 1, 1}, other),
                       colourQuad(0, {1, 1, 1, 1}, shared)};
    set.nodes = {nodeFor(MeshNode::arrayEntry, 0, 30), nodeFor(MeshNode::arrayEntry, 1, 20),
                 nodeFor(MeshNode::arrayEntry, 2, 5)};  // the shared texture both farthest and nearest
    DrawList list(ctx.get(), set, nullptr, nullptr);
    auto* sharedSlot = ctx->findTexture(Context::hashName(shared.path));
    auto* otherSlot = ctx->findTexture(Context::hashName(other.path));
    ASSERT_NE(sharedSlot, nullptr);
    ASSERT_NE(otherSlot, nullptr);
    ASSERT_EQ(sharedSlot->entry.pageTexture, 1);

    std::uint64_t const before = ctx->textureRequestCounter();
    list.updateGL(everything());  // camera at the origin
    EXPECT_EQ(ctx->textureRequestCounter(), before + 3);
    EXPECT_EQ(otherSlot->entry.loadOrder, before + 1);
    EXPECT_EQ(sharedSlot->entry.loadOrder, before + 2);  // the nearer entry's number stays
}

TEST_F(DrawListGl, EntriesSampleSharedTexturesWithTheirOwnOptions) {
    auto const path = gfx_test::writeFile(dir / "two.png", gfx_test::png(2, 1, 4));  // texel 0 red 0, texel 1 red 7
    // Another user of the same image asks for it first, clamped.
    Graphics::Texture const clamped(ctx.get(), TextureDescriptor(path, TextureOptions(0, 0, 0, 0), 0));
    PristineLevel::MeshSet set = fullScreenQuadLevel();  // positions double as uvs: u runs from -1 to 1
    set.arrayMeshes = {colourQuad(0, {1, 1, 1, 1}, TextureDescriptor(path, TextureOptions(0, 0, 1, 1), 0))};
    set.nodes = {nodeFor(MeshNode::arrayEntry, 0)};
    DrawList list(ctx.get(), set, nullptr, nullptr);
    ASSERT_TRUE(loadTextures());
    list.updateGL(everything());
    clamped.bind(GL_TEXTURE0);
    clear();
    list.draw(ctx.get(), shader.get());
    // Repeated, u = -0.23 samples texel 1 and u = -0.73 texel 0; clamped both would be texel 0.
    EXPECT_EQ(gl.pixel(24, 32) & 0xFF, 7u);
    EXPECT_EQ(gl.pixel(8, 32) & 0xFF, 0u);
}
