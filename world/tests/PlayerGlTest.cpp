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
// by triangles, with their depth known: the ball rolls over both, alive and on the ground, not
// thrown into the air; the jelly gives and springs back, the block stays as it is, and both stay
// in their basins. Then each is drawn with a smooth outline: a rim of even width, not notched
// between its outer particles.
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
    auto particles = [&](int k) {
        auto const* p = reinterpret_cast<glm::vec2 const*>(ps.GetPositionBuffer() + bodies[k]->GetBufferIndex());
        return std::vector<glm::vec2>(p, p + bodies[k]->GetParticleCount());
    };
    // A body's particles about its centre, and how far the ninth tenth have moved from `rest`.
    auto shape = [&](int k) {
        std::vector<glm::vec2> out = particles(k);
        glm::vec2 const centre = std::accumulate(out.begin(), out.end(), glm::vec2(0.0f)) / float(out.size());
        for (glm::vec2& q : out) q -= centre;
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
    // Where each body rests, and how far beside and above that box any of its particles has got.
    glm::vec2 lo[2], hi[2];
    for (int k = 0; k < 2; ++k) {
        lo[k] = glm::vec2(1e9f), hi[k] = glm::vec2(-1e9f);
        for (glm::vec2 q : particles(k)) lo[k] = glm::min(lo[k], q), hi[k] = glm::max(hi[k], q);
    }
    float const ground = world.getPlayer().getPosition().y;
    float most[2] = {}, wide[2] = {}, high[2] = {}, flung = 0.0f;
    for (roll.right = 1; roll.right && world.getPlayer().isAlive();
         roll.right = world.getPlayer().getPosition().x < 3.0f) {
        frames(1);
        for (int k = 0; k < 2; ++k) {
            most[k] = std::max(most[k], moved(k, rest[k]));
            for (glm::vec2 q : particles(k))
                wide[k] = std::max({wide[k], lo[k].x - q.x, q.x - hi[k].x}), high[k] = std::max(high[k], q.y - hi[k].y);
        }
        if (world.getPlayer().getPosition().x > lo[0].x - 1.0f)
            flung = std::max(flung, world.getPlayer().getPosition().y - ground);
    }
    ASSERT_TRUE(world.getPlayer().isAlive()) << "killed at " << world.getPlayer().getPosition().x;
    EXPECT_LT(flung, 0.1f) << "the ball was thrown into the air";
    // Within its basin's walls (a particle's width beyond the body at rest); the jelly swells up
    // round the ball pressing it down, but is not lifted out.
    EXPECT_LT(std::max(wide[0], wide[1]), 0.085f) << "out of their basins: " << wide[0] << " " << wide[1];
    EXPECT_LT(std::max(high[0], high[1]), 0.15f) << "lifted: " << high[0] << " " << high[1];
    frames(600);
    EXPECT_GT(most[0], 0.06f) << "the jelly did not give";
    EXPECT_LT(moved(0, rest[0]), 0.02f) << "the jelly did not spring back";
    EXPECT_LT(std::max(most[1], moved(1, rest[1])), 0.02f) << "the block gave";

    // The block's top edge, 0.4 m of it, drawn over black at 160 pixels a metre: in every column
    // the rim above the body is as wide, to a pixel.
    ASSERT_TRUE(loadTextures());
    std::vector<glm::vec2> const block = particles(1);
    float top = -1e9f;
    for (glm::vec2 q : block) top = std::max(top, q.y);
    glm::vec2 const at((lo[1].x + hi[1].x) * 0.5f, top);
    ctx->projectionView() = glm::ortho(at.x - 0.2f, at.x + 0.2f, at.y - 0.2f, at.y + 0.2f);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    world.getGoldParticles().drawShapes(ctx.get(), shader.get());
    glFinish();
    std::vector<unsigned char> pixels(kSide * kSide * 4);
    glReadPixels(0, 0, kSide, kSide, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    ParticleColor const colour = ps.GetColorBuffer()[bodies[1]->GetBufferIndex()];
    int rimTop[2] = {kSide, 0}, bodyTop[2] = {kSide, 0};  // least and most, over the columns
    for (int x = 0; x < kSide; ++x) {
        int rimAt = -1, bodyAt = -1;
        for (int y = kSide - 1; y >= 0 && bodyAt < 0; --y) {
            unsigned char const* p = &pixels[size_t(y * kSide + x) * 4];
            if (rimAt < 0 && p[0] + p[1] + p[2] > 0) rimAt = y;
            if (std::abs(p[0] - colour.r) + std::abs(p[1] - colour.g) + std::abs(p[2] - colour.b) < 12) bodyAt = y;
        }
        ASSERT_GE(bodyAt, 0) << "no body in column " << x;
        rimTop[0] = std::min(rimTop[0], rimAt), rimTop[1] = std::max(rimTop[1], rimAt);
        bodyTop[0] = std::min(bodyTop[0], bodyAt), bodyTop[1] = std::max(bodyTop[1], bodyAt);
    }
    EXPECT_LE(rimTop[1] - rimTop[0], 1) << "the outline is notched";
    EXPECT_LE(bodyTop[1] - bodyTop[0], 1) << "the rim is notched";
    EXPECT_GE(rimTop[0] - bodyTop[1], 3) << "no rim";
}

}  // namespace
