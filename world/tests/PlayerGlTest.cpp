// The character drawn on a real GL ES 2.0 context: its body in its tint where it stands.
#include <gtest/gtest.h>

#include <GLES2/gl2.h>

#include <glm/gtc/matrix_transform.hpp>

#include <box2d/b2_fixture.h>

#include <algorithm>
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

}  // namespace

namespace {

// The particle bodies of the sample level, from the built data archive: an elastic jelly and a
// block its springs hold as well. Each keeps its particles joined by triangles (the block's also
// by springs) and knows their depth; the ball rolls over both, alive; the jelly gives under it and
// springs back, the block stays as it is, and neither spreads. Then both are drawn in their
// colours, each its own shape with a darker rim.
TEST_F(PlayerGl, TheSamplersJellyGivesAndSpringsBackAndItsBlockStaysAsTheBallRollsOverThem) {
    static testing_support::TempDir const documents;
    setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
    auto const file = Singleton<FileSystem>::instance().open("levels/sampler.pxl");
    ASSERT_TRUE(file && file->size() > 0);
    PristineLevel::Data level;
    loadPristineLevel(level, file->data(), file->size());
    ASSERT_EQ(level.particleLiquids.size(), 3u);
    glm::vec4 colours[2];
    for (int k = 0; k < 2; ++k) {
        PristineLevel::ParticleColor const c = level.particleLiquids[size_t(k) + 1].color;
        colours[k] = glm::vec4(c.r, c.g, c.b, c.a);
    }
    World world(ctx.get(), &audio.context, &events, std::move(level), nullptr, GameMode::Normal, boost::none);
    PhysicsWorld const& physics = world.physics();
    ParticleSystem const& particles = physics.particles();
    float now = 0.0f;
    auto frames = [&](int n, ControlSchemeInputState const* input = nullptr) {
        for (int i = 0; i < n; ++i) {
            events.dispatch();
            world.update(ctx.get(), audio.context, nullptr, input, 1000.0f / 60.0f, now += 1000.0f / 60.0f);
        }
    };
    frames(1);
    ParticleGroup const* bodies[2] = {world.particleLiquids()[1].group(), world.particleLiquids()[2].group()};
    ASSERT_TRUE(bodies[0] && bodies[1]);
    // Joined as they were made: triangles inside each body, and each body's depth (0 on its
    // surface, more inside).
    ASSERT_NE(particles.GetDepthBuffer(), nullptr);
    for (ParticleGroup const* g : bodies) {
        std::int32_t const first = g->GetBufferIndex(), last = first + g->GetParticleCount();
        ASSERT_GT(last - first, 40);
        int triads = 0;
        for (std::int32_t t = 0; t < particles.GetTriadCount(); ++t)
            triads += particles.GetTriads()[t].indexA >= first && particles.GetTriads()[t].indexA < last;
        EXPECT_GT(triads, last - first);
        float const* depth = particles.GetDepthBuffer();
        EXPECT_EQ(*std::min_element(depth + first, depth + last), 0.0f);
        EXPECT_GT(*std::max_element(depth + first, depth + last), 0.0f);
        for (std::int32_t i = first; i < last; ++i) ASSERT_TRUE(particles.HoldsShape(i));
    }
    EXPECT_FALSE(particles.HoldsShape(0)) << "the gold is a liquid";

    // Each body's shape: its particles about their centre.
    auto shape = [&](ParticleGroup const* g) {
        std::vector<glm::vec2> out;
        glm::vec2 centre(0.0f);
        b2Vec2 const* p = physics.GetParticlePositionBuffer();
        for (std::int32_t i = g->GetBufferIndex(); i < g->GetBufferIndex() + g->GetParticleCount(); ++i)
            out.emplace_back(p[i].x, p[i].y), centre += out.back();
        centre /= float(out.size());
        for (glm::vec2& q : out) q -= centre;
        return out;
    };
    // How far its particles have moved out of that shape (the ninth tenth of them), and its spread.
    auto moved = [](std::vector<glm::vec2> const& now, std::vector<glm::vec2> const& rest) {
        std::vector<float> d;
        for (size_t i = 0; i < now.size(); ++i) d.push_back(glm::length(now[i] - rest[i]));
        std::sort(d.begin(), d.end());
        return d[d.size() * 9 / 10];
    };
    auto spread = [](std::vector<glm::vec2> const& s) {
        float most = 0.0f;
        for (glm::vec2 q : s) most = std::max(most, glm::length(q));
        return most;
    };
    frames(300);  // settled in their basins
    std::vector<glm::vec2> const rest[2] = {shape(bodies[0]), shape(bodies[1])};

    // Right held, with a hop on the way, until the ball is past both.
    ControlSchemeInputState roll;
    roll.right = 1;
    Player::Player& player = world.getPlayer();
    float most[2] = {0.0f, 0.0f}, widest[2] = {0.0f, 0.0f};
    for (int i = 0; i < 240 && player.getPosition().x < 3.0f; ++i) {
        roll.jump = i >= 40 && i < 48;
        frames(1, &roll);
        ASSERT_TRUE(player.isAlive()) << "killed at x " << player.getPosition().x;
        for (int k = 0; k < 2; ++k) {
            most[k] = std::max(most[k], moved(shape(bodies[k]), rest[k]));
            widest[k] = std::max(widest[k], spread(shape(bodies[k])));
        }
    }
    ASSERT_GT(player.getPosition().x, 3.0f) << "the ball did not get past them";
    EXPECT_GT(most[0], 0.08f) << "the jelly did not give";
    EXPECT_LT(most[1], 0.02f) << "the block gave";
    EXPECT_LT(widest[0], spread(rest[0]) * 1.25f);
    EXPECT_LT(widest[1], spread(rest[1]) * 1.02f);
    frames(600);
    EXPECT_LT(moved(shape(bodies[0]), rest[0]), 0.02f) << "the jelly did not spring back";
    EXPECT_LT(moved(shape(bodies[1]), rest[1]), 0.01f);

    // Drawn over black: each body's middle in its colour, its rim (a disc of one lattice step round
    // each particle, and a darker band beyond) darker, and nothing beside it.
    ASSERT_TRUE(loadTextures());
    for (int k = 0; k < 2; ++k) {
        std::vector<glm::vec2> const s = shape(bodies[k]);
        glm::vec2 centre(0.0f), lo(1e9f), hi(-1e9f);
        for (std::int32_t i = 0; i < bodies[k]->GetParticleCount(); ++i) {
            b2Vec2 const p = physics.GetParticlePositionBuffer()[bodies[k]->GetBufferIndex() + i];
            centre += glm::vec2(p.x, p.y) / float(s.size());
            lo = glm::min(lo, glm::vec2(p.x, p.y)), hi = glm::max(hi, glm::vec2(p.x, p.y));
        }
        // 64 pixels across 2 m round the body's middle.
        ctx->projectionView() = glm::ortho(centre.x - 1.0f, centre.x + 1.0f, centre.y - 1.0f, centre.y + 1.0f);
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        world.getGoldParticles().drawShapes(ctx.get(), shader.get());
        glFinish();
        auto pixel = [&](glm::vec2 at) {
            glm::ivec2 const px((at - centre + 1.0f) * float(kSide) / 2.0f);
            unsigned char rgba[4] = {};
            glReadPixels(px.x, px.y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
            return glm::vec3(rgba[0], rgba[1], rgba[2]);
        };
        glm::vec3 const middle = pixel(centre), edge = pixel(glm::vec2(centre.x, hi.y + 0.115f));
        glm::vec3 const beside = pixel(glm::vec2(hi.x + 0.3f, centre.y));
        EXPECT_LT(glm::length(middle - glm::vec3(colours[k])), 6.0f) << k << ": " << middle.r << " " << middle.g;
        EXPECT_LT(edge.r + edge.g + edge.b, 0.8f * (middle.r + middle.g + middle.b)) << k;
        EXPECT_GT(edge.r + edge.g + edge.b, 20.0f) << k;
        EXPECT_EQ(beside, glm::vec3(0.0f)) << k;
    }
}

}  // namespace
