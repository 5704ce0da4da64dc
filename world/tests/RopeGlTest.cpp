// Level objects drawn on a real GL ES 2.0 context: a strip along each rope, two for a pulley, a
// texture that repeats with the rope's length; a coin that shows until it is collected.
#include <gtest/gtest.h>

#include <GLES2/gl2.h>

#include <glm/gtc/matrix_transform.hpp>

#include "audio/tests/LoopbackDevice.h"
#include "graphics/tests/GlContextFixture.h"
#include "os/EventHandler.h"
#include "tools/datatool/LevelBuilder.h"
#include "world/World.h"

namespace {

class RopeGl : public gfx_test::GlContextFixture {
protected:
    // The pixel at world point p in the view x -4..4, y 0..8.
    glm::u8vec4 at(glm::vec2 p) {
        glm::u8vec4 pixel(0);
        glReadPixels(int((p.x + 4.0f) * kSide / 8.0f), int(p.y * kSide / 8.0f), 1, 1, GL_RGBA, GL_UNSIGNED_BYTE,
                     &pixel);
        return pixel;
    }
};

TEST_F(RopeGl, RopesAndPulleysDrawStripsAlongTheirJoints) {
    static testing_support::TempDir const documents;
    setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
    levels::LevelBuilder b;
    b.ground({{-20.0f, 0.0f}, {20.0f, 0.0f}}, -10.0f, glm::vec4(0.0f));
    b.checkPoint({0.0f, 0.6f});
    levels::Fixture heavy;
    heavy.density = 1.0f;
    auto const bob = [&](glm::vec2 p) {
        return int32_t(b.dynamicBody(p, levels::circleShape(glm::vec2(0.0f), 0.2f, heavy)));
    };
    glm::vec4 const red(1.0f, 0.0f, 0.0f, 1.0f), green(0.0f, 1.0f, 0.0f, 1.0f);
    for (auto [x, length] : {std::pair{-3.0f, 1.5f}, std::pair{-1.5f, 3.0f}}) {
        PristineLevel::RopeJointDef rope;
        rope.bodyA = -1;
        rope.bodyB = bob({x, 4.5f - length});
        rope.localAnchorA = glm::vec2(x, 4.5f);
        rope.localAnchorB = glm::vec2(0.0f);
        rope.maxLength = length;
        uint32_t const joint = b.joint(PristineLevel::RopeJoint{rope, {}});
        uint32_t const quad = b.quad({x, 7.0f}, {0.1f, 0.1f}, red, "art/colors/white.png");
        b.data().jointSprites.push_back({quad, int32_t(joint), glm::vec2(12.0f, 1.0f), 0.25f});
    }
    PristineLevel::PulleyJointDef pulley;
    pulley.bodyA = bob({1.0f, 2.5f});
    pulley.bodyB = bob({3.0f, 2.5f});
    pulley.groundAnchorA = glm::vec2(1.0f, 4.5f);
    pulley.groundAnchorB = glm::vec2(3.0f, 4.5f);
    pulley.localAnchorA = pulley.localAnchorB = glm::vec2(0.0f);
    pulley.lengthA = pulley.lengthB = 2.0f;
    uint32_t const joint = b.joint(PristineLevel::PulleyJoint{pulley, {}});
    b.data().jointSpritePairs.push_back({b.quad({1.0f, 7.0f}, {0.1f, 0.1f}, green, "art/colors/white.png"),
                                         b.quad({3.0f, 7.0f}, {0.1f, 0.1f}, green, "art/colors/white.png"),
                                         int32_t(joint), glm::vec2(12.0f, 1.0f), 0.0f});
    // A pulley sprite on a rope joint is refused.
    b.data().jointSpritePairs.push_back({9999, 9999, 0, glm::vec2(1.0f), 0.0f});
    EventHandler events;
    audio_test::LoopbackContext audio;
    World world(ctx.get(), &audio.context, &events, std::move(b.data()), nullptr, GameMode::Normal, boost::none);
    ASSERT_TRUE(loadTextures());
    for (int i = 0; i < 10; ++i) {
        events.dispatch();
        world.update(ctx.get(), audio.context, nullptr, nullptr, 20.0f, float(i) * 20.0f);
    }
    world.draw(ctx.get());
    ctx->projectionView() = glm::ortho(-4.0f, 4.0f, 0.0f, 8.0f, -10.0f, 10.0f);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    world.drawList().draw(ctx.get(), shader.get());
    glFinish();

    EXPECT_GT(at({-3.0f, 3.5f}).r, 200) << "the short rope";
    EXPECT_GT(at({-1.5f, 2.0f}).r, 200) << "the long rope, down its length";
    EXPECT_LT(at({-3.0f, 2.0f}).r, 50) << "nothing past the short rope's bob";
    EXPECT_GT(at({1.0f, 3.5f}).g, 200) << "the pulley's first rope";
    EXPECT_GT(at({3.0f, 3.5f}).g, 200) << "and its second";
    EXPECT_LT(at({2.0f, 3.5f}).g, 50) << "nothing between them";

    // v runs from v start at the body end; twice the length repeats the texture twice as often.
    auto const vSpan = [&](std::size_t i) {
        auto const& v = world.ropeSprites()[i].quad().worldVertices();
        return v[9] - v[4];
    };
    EXPECT_FLOAT_EQ(world.ropeSprites()[0].quad().worldVertices()[4], 0.25f);
    EXPECT_GT(vSpan(0), 0.0f);
    EXPECT_NEAR(vSpan(1) / vSpan(0), 2.0f, 0.02f);
}

// The coin's quad is drawn where it stands; once collected (and its 300 ms animation over) that
// spot is empty.
TEST_F(RopeGl, ACoinShowsUntilCollected) {
    static testing_support::TempDir const documents;
    setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
    levels::LevelBuilder b;
    b.ground({{-20.0f, 0.0f}, {20.0f, 0.0f}}, -10.0f, glm::vec4(0.0f));
    b.checkPoint({0.0f, 0.6f});
    b.coin({-2.0f, 3.0f});
    uint32_t const take = b.data().coins[0].triggerSignal;
    EventHandler events;
    audio_test::LoopbackContext audio;
    World world(ctx.get(), &audio.context, &events, std::move(b.data()), nullptr, GameMode::Normal, boost::none);
    ASSERT_TRUE(loadTextures());
    float now = 0.0f;
    auto const frames = [&](int n) {
        for (int i = 0; i < n; ++i) {
            events.dispatch();
            now += 20.0f;
            world.update(ctx.get(), audio.context, nullptr, nullptr, 20.0f, now);
        }
        world.draw(ctx.get());
        ctx->projectionView() = glm::ortho(-4.0f, 4.0f, 0.0f, 8.0f, -10.0f, 10.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        world.drawList().draw(ctx.get(), shader.get());
        glFinish();
        return at({-2.0f, 3.0f});
    };
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    auto const sum = [](glm::u8vec4 p) { return int(p.r) + p.g + p.b; };
    EXPECT_GT(sum(frames(5)), 150) << "the coin";
    EXPECT_LT(sum(at({-3.5f, 7.5f})), 30);
    events.trigger(take);
    EXPECT_LT(sum(frames(20)), 30) << "collected";
}

}  // namespace
