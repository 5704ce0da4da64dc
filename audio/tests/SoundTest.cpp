#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "audio/Sound.h"
#include "audio/tests/LoopbackDevice.h"

using audio_test::dataPath;
using audio_test::LoopbackContext;

namespace {

SoundDescriptor loop() { return {dataPath("tone_mono.opus"), SoundParams({0, 0, 0}, SoundParams::looping, 1.0f, 0, 1.25f, 2.0f)}; }
SoundDescriptor click() { return {dataPath("click_mono.opus"), SoundParams({0, 0, 0}, 0, 1.0f, 0, 1.25f, 2.0f)}; }

TEST(Sound, EmptyHandleDoesNothing) {
    LoopbackContext lb;
    Sound s(&lb.context, SoundDescriptor{});
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
    EXPECT_EQ(lb.context.bank().count(), 0u);
    for (size_t i = 0; i < Audio::Context::sourceCount; ++i) EXPECT_TRUE(lb.context.source(i).isFree());
}

TEST(Sound, PlayNeverOverlapsItselfAndRestartsAfterTheEnd) {
    LoopbackContext lb;
    Sound s(&lb.context, click());
    s.play();
    s.play();
    EXPECT_TRUE(s.isPlaying());
    EXPECT_TRUE(lb.context.source(0).isPlaying());
    EXPECT_TRUE(lb.context.source(1).isFree());
    lb.run(200);  // the 50 ms click is over
    EXPECT_FALSE(s.isPlaying());
    s.play();
    EXPECT_TRUE(s.isPlaying());

    // play does not resume a paused sound; resume does.
    s.pause();
    s.play();
    EXPECT_FALSE(s.isPlaying());
    EXPECT_TRUE(lb.context.source(0).isPaused());
    s.resume();
    EXPECT_TRUE(s.isPlaying());
}

TEST(Sound, CopiesShareTheBufferButNotTheSourceAndMovesKeepIt) {
    LoopbackContext lb;
    auto& ctx = lb.context;
    Sound a(&ctx, loop());
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

TEST(Sound, DestroyingAPlayingHandleFadesItWhileTheOtherPlaysOn) {
    LoopbackContext lb;
    auto& ctx = lb.context;
    Sound keep(&ctx, loop());
    keep.play();
    auto gone = std::make_unique<Sound>(keep);
    gone->play();
    lb.run(20);
    gone.reset();
    EXPECT_EQ(ctx.fading().count(), 1u);
    Audio::Source const& faded = ctx.source(1);
    EXPECT_EQ(faded.owner(), &ctx.fading());
    lb.run(500);
    EXPECT_NEAR(faded.gain(), 0.5f, 1e-3f);
    EXPECT_EQ(ctx.source(0).gain(), 1.0f);
    for (int i = 0; i < 8; ++i) lb.run(100);
    EXPECT_TRUE(faded.isFree());
    EXPECT_EQ(ctx.fading().count(), 0u);
    EXPECT_TRUE(keep.isPlaying());
    EXPECT_EQ(ctx.bank().count(), 1u);

    // A paused one is cut: nobody could resume it, and a paused source is never free again.
    auto paused = std::make_unique<Sound>(keep);
    paused->play();
    paused->pause();
    paused.reset();
    EXPECT_TRUE(ctx.source(1).isFree());
    EXPECT_EQ(ctx.fading().count(), 0u);
}

TEST(Sound, PositionAndGainSteerOnlyTheHandlesOwnSource) {
    LoopbackContext lb;
    auto& ctx = lb.context;
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
    Sound other(&ctx, loop());
    other.play();
    ASSERT_EQ(ctx.source(0).owner(), &other);
    s.setGain(0.0f);
    s.setPosition({9, 9});
    s.stop();
    EXPECT_EQ(ctx.source(0).gain(), 1.0f);
    EXPECT_TRUE(other.isPlaying());
}

}  // namespace
