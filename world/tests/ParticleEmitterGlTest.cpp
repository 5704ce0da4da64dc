// Sprite emitters on Mesa's GL ES 2.0 through a real draw list, with the art of the data archive.
#include <gtest/gtest.h>

#include <glm/gtc/matrix_transform.hpp>

#include "graphics/DrawList.h"
#include "graphics/tests/FakeGl.h"
#include "graphics/tests/GlContextFixture.h"
#include "graphics/tests/MeshTestData.h"
#include "graphics/tests/TestImages.h"
#include "testing/TestPaths.h"
#include "world/ParticleEmitter.h"

using testing_support::rgba;

namespace {

// What the list asks of the world: the emitters only.
struct Emitters : DrawList::WorldDrawers {
    std::vector<ParticleEmitter> emitters;
    std::size_t particleEmitterCount() const override { return emitters.size(); }
    void drawParticleEmitter(std::size_t i, Graphics::Context* c, Graphics::StandardShader* s) override {
        emitters[i].draw(c, s);
    }
    void drawPlayer(Graphics::Context*, Graphics::StandardShader*) override {}
    std::size_t fluidVolumeCount() const override { return 0; }
    void drawFluidVolume(std::size_t, Graphics::Context*, Graphics::StandardShader*) override {}
    GoldParticles* goldParticles() override { return nullptr; }
};

// 30 sprites drifting right in the box [-1, 1]^2, each about 0.3 m wide, of a 2 x 2 sheet.
PristineLevel::ParticleEmitter record(TextureDescriptor const& sprite) {
    PristineLevel::ParticleEmitter r;
    r.boxMin = {-1.0f, -1.0f, -5.0f};
    r.boxMax = {1.0f, 1.0f, 5.0f};
    r.rows = 2;
    r.columns = 2;
    r.frameCount = 4;
    r.frameSize = {0.5f, 0.5f};
    r.particleCount = 30;
    r.spawnMin = {-1.0f, -0.5f, 2.0f};
    r.spawnMax = {-0.9f, 0.5f, 2.0f};  // z: equal bounds
    r.spawnIntervals = {4u, 0u, 0u};
    r.velocityMin = {0.5f, -0.1f, 0.0f};
    r.velocityMax = {1.0f, 0.1f, 0.0f};
    r.angleMin = 0.0f;
    r.angleMax = 90.0f;
    r.angularVelocityMin = -30.0f;
    r.angularVelocityMax = 30.0f;
    r.framesPerSecond = 10.0f;
    r.scale = 0.3f * 85.0f / 4.0f;  // a 4-pixel frame of the 8-pixel sheet
    r.color = glm::vec4(1.0f, 0.0f, 0.0f, 1.0f);
    r.sprite = sprite;
    r.drawable = 0;
    return r;
}

struct EmitterGl : gfx_test::GlContextFixture {
    testing_support::TempDir dir;
    PristineLevel::MeshSet meshes;
    Emitters world;
    std::unique_ptr<DrawList> list;

    void SetUp() override {
        GlContextFixture::SetUp();
        meshes.nodes = {gfx_test::node(PristineLevel::MeshNode::particleEmitter, 0, 0.0f, 0.0f, 1.5f)};
        list = std::make_unique<DrawList>(ctx.get(), meshes, &world, nullptr);
    }
    TextureDescriptor white() {
        return TextureDescriptor(gfx_test::writeFile(dir / "white.png", gfx_test::solidPng(8, 8, 255, 255, 255, 255)),
                                 TextureOptions(0, 0, 0, 0), 0);
    }
};

}  // namespace

TEST_F(EmitterGl, SpritesSpawnFromTheSeedWithinTheirRanges) {
    auto const r = record(white());
    ParticleEmitter a(ctx.get(), r, list.get(), 42u);
    ParticleEmitter b(ctx.get(), r, list.get(), 42u);
    ParticleEmitter c(ctx.get(), r, list.get(), 43u);
    ASSERT_TRUE(a.enabled());
    ASSERT_EQ(a.particles().size(), 30u);
    bool differs = false;
    for (std::size_t i = 0; i < 30; ++i) {
        auto const& p = a.particles()[i];
        EXPECT_EQ(p.position, b.particles()[i].position);
        EXPECT_EQ(p.startFrame, b.particles()[i].startFrame);
        differs = differs || p.position != c.particles()[i].position;
        // Spread over the whole box at the start, z from its equal bounds.
        EXPECT_TRUE(p.position.x >= -1.0f && p.position.x <= 1.0f && p.position.y >= -1.0f && p.position.y <= 1.0f);
        EXPECT_GE(p.position.z, 2.0f);
        EXPECT_LE(p.position.z, 2.001f);
        EXPECT_LT(p.startFrame, 4u);
        EXPECT_TRUE(p.velocity.x >= 0.5f && p.velocity.x <= 1.0f);
        EXPECT_TRUE(p.angle >= 0.0f && p.angle <= 90.0f);
    }
    EXPECT_TRUE(differs);

    // Sheets that cannot play leave the emitter off, whatever else happens to it.
    for (auto broken : {std::tuple{0u, 2u, 2u}, std::tuple{4u, 0u, 2u}, std::tuple{4u, 2u, 0u}}) {
        auto bad = r;
        std::tie(bad.frameCount, bad.columns, bad.rows) = broken;
        ParticleEmitter off(ctx.get(), bad, list.get(), 1u);
        EXPECT_FALSE(off.enabled());
        list->updateGL(gfx_test::window(-10, 10, -10, 10));
        off.update(16.0f, 1000.0f, list.get());
        off.draw(ctx.get(), shader.get());
    }
    auto far = r;
    far.drawable = 7;  // no such drawable: never visible
    ParticleEmitter nowhere(ctx.get(), far, list.get(), 1u);
    nowhere.update(16.0f, 16.0f, list.get());
    EXPECT_EQ(nowhere.particles()[0].position, ParticleEmitter(ctx.get(), far, list.get(), 1u).particles()[0].position);
}

TEST_F(EmitterGl, UpdatesOnlyWhileVisibleAndDrawsInOneCall) {
    ASSERT_TRUE(loadTextures());
    world.emitters.emplace_back(ctx.get(), record(white()), list.get(), 7u);
    ASSERT_TRUE(loadTextures());
    ParticleEmitter& e = world.emitters[0];
    auto const start = e.particles();

    // Out of view: frozen.
    list->updateGL(gfx_test::window(50, 60, 50, 60));
    e.update(100.0f, 100.0f, list.get());
    EXPECT_EQ(e.particles()[0].position, start[0].position);

    // In view: moved by velocity x dt, frames follow the level clock, leavers come back inside.
    list->updateGL(gfx_test::window(-10, 10, -10, 10));
    e.update(100.0f, 1000.0f, list.get());
    for (std::size_t i = 0; i < start.size(); ++i) {
        auto const& p = e.particles()[i];
        glm::vec3 const moved = start[i].position + start[i].velocity * 0.1f;
        if (moved.x <= 1.0f && moved.y >= -1.0f && moved.y <= 1.0f) {
            EXPECT_NEAR(p.position.x, moved.x, 1e-5f);
            EXPECT_EQ(p.currentFrame, (start[i].startFrame + 10) % 4);
        } else {
            EXPECT_LE(p.position.x, -0.9f) << "respawned at the left";
        }
    }
    // Six vertices a sprite; each sprite about 0.3 m across.
    ASSERT_EQ(e.vertices().size(), 180u);
    auto const& v = e.vertices();
    EXPECT_NEAR(std::hypot(v[0].x - v[1].x, v[0].y - v[1].y), 0.3f, 1e-3f);
    EXPECT_EQ(v[3].x, v[2].x);
    EXPECT_EQ(v[4].u, v[1].u);

    ctx->projectionView() = glm::ortho(-2.0f, 2.0f, -2.0f, 2.0f, -10.0f, 10.0f);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    list->draw(ctx.get(), shader.get());
    int red = 0;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            std::uint32_t const px = gl.pixel(x, y);
            red += px == rgba(255, 0, 0, 255) ? 1 : 0;
            if (x < 12 || x > 52 || y < 12 || y > 52) {
                EXPECT_EQ(px, rgba(0, 0, 0, 0)) << x << ", " << y << " lies outside the box";
            }
        }
    }
    EXPECT_GT(red, 100) << "the sprites show";

    gfx_test::FakeGl fake;
    e.draw(ctx.get(), shader.get());
    EXPECT_EQ(fake.count("drawArrays"), 1);
}
