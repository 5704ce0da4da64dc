// The character drawn on a real GL ES 2.0 context: its body in its tint where it stands.
#include <gtest/gtest.h>

#include <GLES2/gl2.h>

#include <glm/gtc/matrix_transform.hpp>

#include <box2d/b2_fixture.h>

#include <algorithm>
#include <numeric>
#include <cmath>
#include <vector>
#include <cstdlib>

#include "audio/tests/LoopbackDevice.h"
#include "level/LevelReader.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "graphics/tests/GlContextFixture.h"
#include "os/EventHandler.h"
#include "tools/datatool/LevelBuilder.h"
#include "graphics/PostProcessingStep.h"
#include "world/World.h"

namespace {

class PlayerGl : public gfx_test::GlContextFixture {
protected:
    // The character at its check point on flat ground, with an empty save folder.
    World& onFlatGround() {
        static testing_support::TempDir const documents;
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        levels::LevelBuilder b;
        b.ground({{-20.0f, 0.0f}, {20.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
        b.checkPoint({0.0f, 0.6f});
        world = std::make_unique<World>(ctx.get(), &audio.context, &events, std::move(b.data()), nullptr,
                                        GameMode::Normal, boost::none);
        return *world;
    }
    EventHandler events;
    audio_test::LoopbackContext audio;
    std::unique_ptr<World> world;
};

TEST_F(PlayerGl, TheCharacterIsDrawnInItsTint) {
    World& world = onFlatGround();
    for (int i = 0; i < 30; ++i) {
        events.dispatch();
        world.update(ctx.get(), audio.context, nullptr, nullptr, 20.0f, float(i) * 20.0f);
    }
    ASSERT_TRUE(loadTextures());
    world.draw(ctx.get());
    glm::vec2 const at = world.getPlayer().getPosition();
    // A 2 m view round the character.
    ctx->projectionView() = glm::ortho(at.x - 1.0f, at.x + 1.0f, at.y - 1.0f, at.y + 1.0f, -10.0f, 10.0f);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    world.drawPlayer(ctx.get(), shader.get());
    glFinish();
    // Below the face, inside the body.
    unsigned char pixel[4] = {};
    glReadPixels(kSide / 2, kSide / 2 - 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    glm::vec4 const tint = world.getPlayer().tint();
    EXPECT_GT(pixel[1], pixel[0] + 40) << "teal: green well above red";
    EXPECT_GT(pixel[2], pixel[0] + 40);
    EXPECT_GT(tint.g, tint.r);
    unsigned char corner[4] = {};
    glReadPixels(1, 1, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, corner);
    EXPECT_LT(int(corner[0]) + corner[1] + corner[2], 30) << "nothing drawn away from the character";
}

// Resting on the ground, the drawn ball is the physics body's: its top and sides reach the outer
// circle and no further (the face inside), and its bottom, flattened where the body rests, stands
// on the ground instead of sinking into it.
TEST_F(PlayerGl, TheDrawnBallIsTheBodysCircle) {
    World& world = onFlatGround();
    ASSERT_TRUE(loadTextures());
    for (int i = 0; i < 90; ++i) {
        events.dispatch();
        world.update(ctx.get(), audio.context, nullptr, nullptr, 1000.0f / 60.0f, float(i) * 16.0f);
    }
    world.draw(ctx.get());
    glm::vec2 const at = world.getPlayer().getPosition();
    float r = 0.0f;  // the outer circle's
    for (b2Fixture* f = world.getPlayer().getBody()->GetFixtureList(); f; f = f->GetNext())
        r = std::max(r, f->GetShape()->m_radius);
    // A 3 m view round the body's centre: 64 pixels over 3 m.
    float const half = 1.5f, perPixel = 2.0f * half / float(kSide);
    ctx->projectionView() = glm::ortho(at.x - half, at.x + half, at.y - half, at.y + half, -10.0f, 10.0f);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    world.drawPlayer(ctx.get(), shader.get());
    glFinish();
    std::vector<unsigned char> pixels(size_t(kSide) * kSide * 4);
    glReadPixels(0, 0, kSide, kSide, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    auto drawn = [&](int x, int y) {
        unsigned char const* p = &pixels[(size_t(y) * kSide + size_t(x)) * 4];
        return int(p[0]) + p[1] + p[2] > 60;
    };
    // How far from the centre anything is drawn, along the row and the column through it.
    int const c = kSide / 2;
    float left = 0, right = 0, down = 0, up = 0;
    for (int i = 0; i < c; ++i) {
        if (drawn(c - 1 - i, c)) left = float(i + 1) * perPixel;
        if (drawn(c + i, c)) right = float(i + 1) * perPixel;
        if (drawn(c, c - 1 - i)) down = float(i + 1) * perPixel;
        if (drawn(c, c + i)) up = float(i + 1) * perPixel;
    }
    std::string const extents = "left " + std::to_string(left) + " right " + std::to_string(right) + " down " +
                                std::to_string(down) + " up " + std::to_string(up) + ", centre at " +
                                std::to_string(at.y);
    // The rim flattens on the ground (the body rests on its inner circle) and widens a little.
    EXPECT_NEAR(at.y - down, 0.0f, 0.06f) << "not standing on the ground: " << extents;
    EXPECT_NEAR(up, r, 0.08f) << extents;
    for (float side : {left, right}) {
        EXPECT_GT(side, r - 0.05f) << extents;
        EXPECT_LT(side, r + 0.12f) << extents;
    }
}

}  // namespace

namespace {

// On a low-end device the post-processing step renders at half size, and the view moves in
// steps of two virtual pixels.
TEST_F(PlayerGl, TheViewSnapsToTwoPixelStepsAtHalfScale) {
    setenv("ZELV_DEVICE_MODEL", "iPhone3,1", 1);
    PostProcessingStep post(ctx.get(), glm::ivec2(kSide), glm::ivec2(kSide), true);
    post.allowReducedResolution();
    post.update(0.0f);
    ASSERT_FLOAT_EQ(post.renderScale(), 0.5f);
    levels::LevelBuilder b;
    b.ground({{-20.0f, 0.0f}, {80.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
    b.checkPoint({0.0f, 0.6f});
    EventHandler events;
    audio_test::LoopbackContext audio;
    World world(nullptr, &audio.context, &events, std::move(b.data()), nullptr, GameMode::Normal, boost::none);
    ControlSchemeInputState right;
    right.right = 1;
    for (int i = 0; i < 40; ++i) {
        events.dispatch();
        world.update(nullptr, audio.context, nullptr, &right, 20.0f, float(i) * 20.0f);
        post.allowReducedResolution();
        post.update(20.0f);
        world.getCamera().update(nullptr, &audio.context, &post, nullptr, 0.0f, 20.0f);
        glm::vec2 const halfPixels = world.getCamera().viewCentre() * 85.0f * 0.5f;
        EXPECT_NEAR(halfPixels.x, std::round(halfPixels.x), 4e-3f) << i;
        EXPECT_NEAR(halfPixels.y, std::round(halfPixels.y), 4e-3f) << i;
    }
    EXPECT_GT(world.getCamera().viewCentre().x, 1.0f) << "the view moved";
}

// The sample level's particle bodies, an elastic jelly and a block that springs hold too, joined
// by triangles, with their depth known: the ball rolls over both, alive; the jelly gives and
// springs back, the block stays as it is. (The sampler's window run sees them drawn.)
TEST_F(PlayerGl, TheSamplersJellyGivesAndSpringsBackAndItsBlockStaysAsTheBallRollsOverThem) {
    static testing_support::TempDir const documents;
    setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
    auto const file = Singleton<FileSystem>::instance().open("levels/sampler.pxl");
    PristineLevel::Data level;
    loadPristineLevel(level, file->data(), file->size());
    World world(ctx.get(), &audio.context, &events, std::move(level), nullptr, GameMode::Normal, boost::none);
    ControlSchemeInputState roll;
    auto frames = [&](int n) {
        for (int i = 0; i < n; ++i)
            events.dispatch(), world.update(ctx.get(), audio.context, nullptr, &roll, 16.0f, 0.0f);
    };
    frames(300);
    ParticleSystem const& ps = world.physics().particles();
    ParticleGroup const* bodies[2] = {world.particleLiquids()[1].group(), world.particleLiquids()[2].group()};
    ASSERT_TRUE(bodies[0] && bodies[1] && ps.GetTriadCount() > 100 && ps.GetDepthBuffer());
    // A body's particles about its centre, and how far the ninth tenth have moved from `rest`.
    auto shape = [&](int k, bool centred = true) {
        auto const* p = reinterpret_cast<glm::vec2 const*>(ps.GetPositionBuffer() + bodies[k]->GetBufferIndex());
        std::vector<glm::vec2> out(p, p + bodies[k]->GetParticleCount());
        glm::vec2 const centre = std::accumulate(out.begin(), out.end(), glm::vec2(0.0f)) / float(out.size());
        for (glm::vec2& q : out) q -= centred ? centre : glm::vec2(0.0f);
        return out;
    };
    auto moved = [&](int k, std::vector<glm::vec2> const& rest) {
        std::vector<float> d;
        std::vector<glm::vec2> const now = shape(k);
        for (size_t i = 0; i < rest.size(); ++i) d.push_back(glm::length(now[i] - rest[i]));
        std::nth_element(d.begin(), d.begin() + d.size() * 9 / 10, d.end());
        return d[d.size() * 9 / 10];
    };
    std::vector<glm::vec2> const rest[2] = {shape(0), shape(1)};
    // Each body's box at rest; its basin is a particle wider and, for the jelly's swell, 0.15 m higher.
    auto each = [&](auto f) { for (int k = 0; k < 2; ++k) for (glm::vec2 q : shape(k, false)) f(k, q); };
    glm::vec2 lo[2] = {glm::vec2(1e9f), glm::vec2(1e9f)}, hi[2] = {-lo[0], -lo[1]};
    each([&](int k, auto q) { lo[k] = glm::min(lo[k], q), hi[k] = glm::max(hi[k], q); });
    float most[2] = {}, out = 0.0f, ground = world.getPlayer().getPosition().y, flung = 0.0f;
    for (roll.right = 1; roll.right && world.getPlayer().isAlive();
         roll.right = world.getPlayer().getPosition().x < 3.0f) {
        frames(1);
        for (int k = 0; k < 2; ++k) most[k] = std::max(most[k], moved(k, rest[k]));
        each([&](int k, auto q) { out += q.x < lo[k].x - 0.085f || q.x > hi[k].x + 0.085f || q.y > hi[k].y + 0.15f; });
        flung = std::max(flung, world.getPlayer().getPosition().y - ground);
    }
    ASSERT_TRUE(world.getPlayer().isAlive()) << "killed at " << world.getPlayer().getPosition().x;
    EXPECT_TRUE(flung < 0.1f && out == 0.0f) << "thrown up " << flung << ", out of their basins " << out;
    frames(600);
    EXPECT_GT(most[0], 0.06f) << "the jelly did not give";
    EXPECT_LT(moved(0, rest[0]), 0.02f) << "the jelly did not spring back";
    EXPECT_LT(std::max(most[1], moved(1, rest[1])), 0.02f) << "the block gave";
    // The block's top edge, 0.4 m at 160 pixels a metre: the outline and the body's top are level, 3 or more apart.
    ASSERT_TRUE(loadTextures());
    float const mid = (lo[1].x + hi[1].x) * 0.5f;
    ctx->projectionView() = glm::ortho(mid - 0.2f, mid + 0.2f, hi[1].y - 0.2f, hi[1].y + 0.2f);
    glClear(GL_COLOR_BUFFER_BIT);
    world.getGoldParticles().drawShapes(ctx.get(), shader.get());
    int first[2] = {kSide, kSide}, last[2] = {}, top[2];  // least and most over the columns: drawn, body
    for (int x = 0; x < kSide; ++x) {
        for (top[0] = kSide - 1; top[0] > 0 && !(gl.pixel(x, top[0]) & 0xffffffu); --top[0]) {}
        for (top[1] = top[0]; top[1] > 0 && gl.pixel(x, top[1]) != gl.pixel(x, 0); --top[1]) {}
        for (int i : {0, 1}) first[i] = std::min(first[i], top[i]), last[i] = std::max(last[i], top[i]);
    }
    EXPECT_TRUE(last[0] - first[0] <= 1 && last[1] - first[1] <= 1 && first[0] - last[1] >= 3) << "notched, or no rim";
}

}  // namespace
