// The character drawn on a real GL ES 2.0 context: its body in its tint where it stands.
#include <gtest/gtest.h>

#include <GLES2/gl2.h>

#include <glm/gtc/matrix_transform.hpp>

#include <cmath>
#include <cstdlib>

#include "audio/tests/LoopbackDevice.h"
#include "graphics/tests/GlContextFixture.h"
#include "os/EventHandler.h"
#include "tools/datatool/LevelBuilder.h"
#include "graphics/PostProcessingStep.h"
#include "world/World.h"

namespace {

class PlayerGl : public gfx_test::GlContextFixture {};

TEST_F(PlayerGl, TheCharacterIsDrawnInItsTint) {
    static testing_support::TempDir const documents;
    setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
    levels::LevelBuilder b;
    b.ground({{-20.0f, 0.0f}, {20.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
    b.checkPoint({0.0f, 0.6f});
    EventHandler events;
    audio_test::LoopbackContext audio;
    World world(ctx.get(), &audio.context, &events, std::move(b.data()), nullptr, GameMode::Normal, boost::none);
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
