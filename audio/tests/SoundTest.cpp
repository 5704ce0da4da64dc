#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "audio/Sound.h"
#include "audio/tests/LoopbackDevice.h"

using audio_test::click;
using audio_test::tone;

namespace {

struct SoundTest : ::testing::Test {
    audio_test::LoopbackContext lb;
    Audio::Context& ctx = lb.context;
};

TEST_F(SoundTest, EmptyHandleDoesNothing) {
    Sound s(&ctx, SoundDescriptor{});
    EXPECT_TRUE(s.empty());
    s.play();
    s.pause();
    s.resume();
    s.setGain(0.5f);
    s.setPosition({1, 2});
    s.stop();
    EXPECT_FALSE(s.isPlaying());
    Sound copy(s);
    Sound moved(std::move(copy));
    EXPECT_TRUE(moved.empty());
    EXPECT_EQ(ctx.bank().count(), 0u);
    for (size_t i = 0; i < Audio::Context::sourceCount; ++i) EXPECT_TRUE(ctx.source(i).isFree());
}

TEST_F(SoundTest, PlayNeverOverlapsItselfAndRestartsAfterTheEnd) {
    Sound s(&ctx, click());
    s.play();
    s.play();
    EXPECT_TRUE(s.isPlaying());
    EXPECT_TRUE(ctx.source(0).isPlaying());
    EXPECT_TRUE(ctx.source(1).isFree());
    lb.run(200);  // the 50 ms click is over
    EXPECT_FALSE(s.isPlaying());
    s.play();
    EXPECT_TRUE(s.isPlaying());

    // play does not resume a paused sound; resume does.
    s.pause();
    s.play();
    EXPECT_FALSE(s.isPlaying());
    EXPECT_TRUE(ctx.source(0).isPaused());
    s.resume();
    EXPECT_TRUE(s.isPlaying());
}

TEST_F(SoundTest, CopiesShareTheBufferButNotTheSourceAndMovesKeepIt) {
    Sound a(&ctx, tone());
    a.play();
    Sound b(a);
    EXPECT_FALSE(b.isPlaying());
    b.play();
    EXPECT_TRUE(a.isPlaying());
    EXPECT_TRUE(b.isPlaying());
    EXPECT_EQ(ctx.bank().count(), 1u);
    EXPECT_EQ(ctx.source(0).buffer(), ctx.source(1).buffer());

    Sound c(std::move(a));
    EXPECT_TRUE(a.empty());
    EXPECT_TRUE(c.isPlaying());
    EXPECT_EQ(ctx.source(0).owner(), &c);
    c.stop();
    EXPECT_FALSE(c.isPlaying());
    EXPECT_TRUE(b.isPlaying());
}

TEST_F(SoundTest, DestroyingAPlayingHandleFadesItWhileTheOtherPlaysOn) {
    Sound keep(&ctx, tone());
    keep.play();
    auto gone = std::make_unique<Sound>(keep);
    gone->play();
    lb.run(20);
    gone.reset();
    Audio::Source const& faded = ctx.source(1);
    EXPECT_EQ(faded.owner(), &ctx.fading());
    for (int i = 0; i < 13; ++i) lb.run(100);
    EXPECT_TRUE(faded.isFree());
    EXPECT_EQ(ctx.source(0).gain(), 1.0f);
    EXPECT_TRUE(keep.isPlaying());
    EXPECT_EQ(ctx.bank().count(), 1u);  // still held by `keep`

    // A paused one is cut: nobody could resume it, and a paused source is never free again.
    auto paused = std::make_unique<Sound>(keep);
    paused->play();
    paused->pause();
    paused.reset();
    EXPECT_TRUE(ctx.source(1).isFree());
    EXPECT_EQ(ctx.fading().count(), 0u);
}

TEST_F(SoundTest, PositionAndGainSteerOnlyTheHandlesOwnSource) {
    Sound s(&ctx, click());
    s.params().position.z = 7;
    s.setPosition({3, 4});  // idle: only the params change
    s.play();
    ALfloat x = 0, y = 0, z = 0;
    alGetSource3f(ctx.source(0).name(), AL_POSITION, &x, &y, &z);
    EXPECT_EQ(glm::vec3(x, y, z), glm::vec3(3, 4, 7));
    s.setGain(0.25f);
    EXPECT_EQ(ctx.source(0).gain(), 0.25f);
    EXPECT_EQ(s.params().gain, 1.0f);

    // Once the click is over another handle takes the source; the first no longer steers it.
    lb.run(200);
    Sound other(&ctx, tone());
    other.play();
    ASSERT_EQ(ctx.source(0).owner(), &other);
    s.setGain(0.0f);
    s.setPosition({9, 9});
    s.stop();
    EXPECT_EQ(ctx.source(0).gain(), 1.0f);
    EXPECT_TRUE(other.isPlaying());
}

}  // namespace
