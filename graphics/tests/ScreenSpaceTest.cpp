// Screen-space maths without GL: anchors, the kinetic scroller on an injected clock, sprite-sheet
// frames, the splash tilt and image-sequence timing.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "graphics/ImageSequence.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/Scroller.h"
#include "graphics/Splash.h"
#include "graphics/SpriteSheetAnimation.h"
#include "os/services/PlatformServices.h"

namespace {

TEST(ScreenAnchor, ANullTextureIsAnEmptyBoxAtTheAnchor) {
    platform_services::setScreenSizes(1280, 720, 2560, 1440);
    EXPECT_EQ(anchoredPosition(kAnchorTopRight, nullptr), glm::vec2(1280, 720));
    EXPECT_EQ(anchoredPosition(kAnchorCenter, nullptr), glm::vec2(640, 360));
    EXPECT_EQ(anchoredPosition(ScreenAnchor(9), glm::vec2(100, 50), glm::vec2(1280, 720)), glm::vec2(0, 0));
}

// A paged scroller over [0, 1000] with a touch area covering the screen and a test clock.
struct ScrollerFixture : ::testing::Test {
    uint64_t now = 1000;
    Scroller::Parameters params{glm::vec4(0, 0, 1280, 720), 1, std::nullopt, 100.0f, 0.5f, 0.01f, 1000.0f, 0.0f};

    Scroller make(std::optional<float> page = std::nullopt) {
        params.pageSize = page;
        return Scroller(params, [this] { return now; });
    }

    // A touch from x0 lifted at x1 after `ms` milliseconds, with no move in between.
    void flick(Scroller& s, float x0, float x1, uint64_t ms) {
        s.touchBegan(glm::vec2(x0, 0));
        now += ms;
        s.touchEnded(glm::vec2(x1, 0));
    }

    // Five seconds of 1 ms frames: long enough for any motion here to come to rest.
    static void settle(Scroller& s) {
        for (int i = 0; i < 5000; ++i) s.update(1);
    }
};

TEST_F(ScrollerFixture, QuickFlickSetsVelocityFromTheWholeDrag) {
    Scroller s = make();
    ASSERT_TRUE(s.touchBegan(glm::vec2(500, 300)));
    EXPECT_TRUE(s.isDragging());
    now += 50;
    s.touchEnded(glm::vec2(400, 300));
    EXPECT_FLOAT_EQ(s.velocity(), -2.0f);  // 100 units in 50 ms
    EXPECT_FALSE(s.isDragging());

    // Outside the touch area nothing starts.
    EXPECT_FALSE(s.touchBegan(glm::vec2(2000, 300)));
}

TEST_F(ScrollerFixture, SlowDragKeepsTheLastSampledVelocity) {
    Scroller s = make();
    s.setOffset(500);
    s.touchBegan(glm::vec2(100, 0));
    now += 100;
    s.touchMoved(glm::vec2(150, 0));  // first move: no sample yet
    EXPECT_FLOAT_EQ(s.offset(), 550);
    now += 10;
    s.touchMoved(glm::vec2(166, 0));  // 16 units in 10 ms counts as 32 ms
    now += 90;
    s.touchEnded(glm::vec2(200, 0));  // 100 units in 200 ms: not a flick
    EXPECT_FLOAT_EQ(s.velocity(), 0.5f);
}

TEST_F(ScrollerFixture, VelocityDeceleratesAndMovesWholeUnits) {
    Scroller s = make();
    s.setOffset(500);
    flick(s, 0, 100, 50);  // 2 units per ms
    s.update(10);          // 20 units
    EXPECT_FLOAT_EQ(s.offset(), 519);  // the last unit stays in the accumulator
    EXPECT_FLOAT_EQ(s.velocity(), 1.9f);
    settle(s);
    EXPECT_EQ(s.velocity(), 0.0f);  // never changes sign
    EXPECT_NEAR(s.offset(), 700, 2);  // v^2 / 2a
}

TEST_F(ScrollerFixture, RubberBandDampsThenSpringsBack) {
    Scroller s = make();
    s.setOffset(990);
    s.touchBegan(glm::vec2(0, 0));
    s.touchMoved(glm::vec2(10, 0));
    EXPECT_FLOAT_EQ(s.offset(), 1000);
    s.touchMoved(glm::vec2(60, 0));  // at the bound: undamped
    EXPECT_FLOAT_EQ(s.offset(), 1050);
    s.touchMoved(glm::vec2(110, 0));  // half way into the band: half the move
    EXPECT_FLOAT_EQ(s.offset(), 1075);
    for (int x = 160; x < 2000; x += 50) s.touchMoved(glm::vec2(float(x), 0));
    EXPECT_LE(s.offset(), 1100.0f);  // damped to nothing at the limit
    EXPECT_GT(s.offset(), 1090.0f);
    now += 500;
    s.touchEnded(glm::vec2(2000, 0));
    for (int i = 0; i < 400; ++i) s.update(16);
    EXPECT_NEAR(s.offset(), 1000, 2);
}

TEST_F(ScrollerFixture, PagingSettlesOnPageBoundaries) {
    Scroller s = make(200.0f);
    s.setOffset(230);
    EXPECT_EQ(s.currentPage(), 1);
    // A touch without a move nudges to the nearest page.
    flick(s, 0, 0, 300);
    EXPECT_LT(s.velocity(), 0.0f);
    settle(s);
    EXPECT_NEAR(s.offset(), 200, 1.5f);

    // A flick carries on to the page its stopping distance reaches.
    s.setOffset(200);
    flick(s, 0, 100, 50);  // 2 units per ms: 200 units to stop
    EXPECT_NEAR(s.velocity(), 2.0f, 1e-5f);
    settle(s);
    EXPECT_NEAR(s.offset(), 400, 1.5f);
    EXPECT_EQ(s.currentPage(), 2);

    s.scrollToPage(4);
    settle(s);
    EXPECT_NEAR(s.offset(), 800, 1.5f);
}

TEST_F(ScrollerFixture, ButtonsNudgeAndClampAndAZeroPageSizeIsNoPaging) {
    Scroller s = make();
    s.setOffset(995);
    s.scrollForward();
    s.scrollForward();
    EXPECT_FLOAT_EQ(s.velocity(), 1.0f);
    s.scrollBackward();  // reverses by stopping first
    EXPECT_EQ(s.velocity(), 0.0f);
    s.scrollForward();
    for (int i = 0; i < 10; ++i) s.update(16);
    EXPECT_EQ(s.offset(), 1000);

    // A wild flick moves far in one frame without counting unit by unit.
    Scroller wild = make();
    flick(wild, 0, 1e30f, 0);
    wild.update(16);
    EXPECT_GT(wild.offset(), 1e29f);
    // Its page number is past any int32: the last one, not an overflow.
    Scroller wildPaged = make(10.0f);
    wildPaged.setOffset(1e30f);
    EXPECT_EQ(wildPaged.currentPage(), std::numeric_limits<int32_t>::max());
    wildPaged.setOffset(-1e30f);
    EXPECT_EQ(wildPaged.currentPage(), std::numeric_limits<int32_t>::min());

    Scroller unpaged = make(0.0f);
    unpaged.setOffset(50);
    flick(unpaged, 0, 0, 0);
    EXPECT_FALSE(unpaged.currentPage());
    EXPECT_TRUE(std::isfinite(unpaged.velocity()));
}

TEST(SpriteSheetAnimation, FramesRunAcrossThenDownAndStopUnlessLooping) {
    SpriteSheetAnimation a(SpriteSheetAnimation::Parameters(2, 4, 8, 0, false, 10.0f));
    EXPECT_EQ(a.getUvScale(), glm::vec2(0.25f, 0.5f));
    a.update(1000);
    EXPECT_FALSE(a.isPlaying());
    a.restart();
    a.update(500);  // frame 0, then 500 ms elapsed
    a.update(0);    // frame 5: second row, second column
    EXPECT_EQ(a.frame(), 5u);
    EXPECT_EQ(a.getUvOffset(), glm::vec2(0.25f, 0.5f));
    a.update(400);
    a.update(1);  // 900 ms > 800: stopped
    EXPECT_FALSE(a.isPlaying());

    SpriteSheetAnimation loop(SpriteSheetAnimation::Parameters(2, 4, 8, 3, true, 10.0f));
    loop.restart();
    loop.update(900);
    loop.update(0);  // (9 + 3) mod 8
    EXPECT_EQ(loop.frame(), 4u);
    EXPECT_TRUE(loop.isPlaying());

    SpriteSheetAnimation degenerate(SpriteSheetAnimation::Parameters(0, 0, 0, 0, true, 0.0f));
    degenerate.restart();
    degenerate.update(16);
    degenerate.update(NAN);  // a bad frame time
    degenerate.update(16);
    EXPECT_EQ(degenerate.frame(), 0u);
}

TEST(Splash, TiltFollowsTheVelocityAndStaysUprightWhenStill) {
    EXPECT_EQ(Splash::tiltFor(glm::vec2(0, -3)), 0.0f);
    EXPECT_EQ(Splash::tiltFor(glm::vec2(0, 0)), 0.0f);
    EXPECT_EQ(Splash::tiltFor(glm::vec2(1e-9f, 0)), 0.0f);

    // Without a texture the quad is empty, but orienting a still splash gives finite corners.
    Splash splash(nullptr);
    splash.start(glm::vec2(3, 4), glm::vec2(0, 0));
    splash.update(16);
    splash.orientToVelocity();
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(std::isfinite(splash.quad().corner(i).position.x));
        EXPECT_EQ(splash.quad().corner(i).position, glm::vec2(3, 4));
    }
}

TEST(ImageSequence, FrameNamesTimingAndWrap) {
    EXPECT_EQ(ImageSequence::framePath("art/menus/levelselect/Gear_00000.png", 7),
              "art/menus/levelselect/Gear_00007.png");
    EXPECT_EQ(ImageSequence::framePath("art/a/Gear_00000.png", 123456), "art/a/Gear_123456.png");
    EXPECT_EQ(ImageSequence::framePath("art/a/Gear_1.png", 7), "art/a/Gear_17.png");  // no zeros: no padding
    // Only the trailing zeros are the number, not a run in a folder name.
    EXPECT_EQ(ImageSequence::framePath("art/v100000/Gear_00000.png", 12), "art/v100000/Gear_00012.png");

    TextureDescriptor const first("art/menus/levelselect/Gear_00000.png", TextureOptions(0, 0, 0, 0), 3);
    ImageSequence seq(nullptr, first, 15, 30, glm::vec2(-271, 24));
    EXPECT_FLOAT_EQ(seq.duration(), 2000.0f);
    EXPECT_FLOAT_EQ(seq.step(), 1000.0f / 15.0f);
    EXPECT_EQ(seq.frameCount(), 30u);
    EXPECT_NEAR(seq.frames().begin()->first, 1933.33f, 0.01f);
    EXPECT_FLOAT_EQ(seq.time(), seq.step());
    seq.selectFrame();
    ASSERT_NE(seq.currentSprite(), nullptr);
    EXPECT_EQ(seq.currentSprite(), &std::next(seq.frames().begin(), 28)->second);  // frame 1
    for (int i = 0; i < 30; ++i) seq.advance();
    EXPECT_NEAR(seq.time(), seq.step(), 1e-3f);

    ImageSequence none(nullptr, first, 0, 30, glm::vec2(0));
    none.advance();
    none.selectFrame();
    EXPECT_EQ(none.currentSprite(), nullptr);
}

}  // namespace
