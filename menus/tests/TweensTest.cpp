// Easing curves and the pop-in tween, to the frame: when a tween ends depends on its clamps
// and on the float/double mix of sineRamp, so the counts of updates are pinned here.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "menus/Fader.h"
#include "menus/PopInAnimation.h"
#include "menus/PopInTransform.h"
#include "menus/SineRamp.h"
#include "os/services/PlatformServices.h"

namespace {

TEST(SineRamp, EndsContinuityAndTheDoubleSine) {
    struct Breakpoints {
        float a, b;
    } const cases[] = {{0.8f, 0.95f}, {0.1f, 0.95f}, {0.01f, 0.02f}, {0.98f, 0.99f}, {0.01f, 0.01f}, {0.5f, 0.5f}};
    for (auto const [a, b] : cases) {
        SCOPED_TRACE(testing::Message() << a << ", " << b);
        EXPECT_NEAR(sineRamp(0.0f, a, b), 0.0f, 1e-12f);
        EXPECT_FLOAT_EQ(sineRamp(1.0f, a, b), 1.0f);
        // At a the ease-in meets the line (or, with a == b, the ease-out) at 2a/pi of the total.
        float const total = 2 * a / 3.1415927f + (b - a) + 2 * (1 - b) / 3.1415927f;
        EXPECT_NEAR(sineRamp(a, a, b), 2 * a / 3.1415927f / total, 1e-6f);
        for (float edge : {a, b}) EXPECT_NEAR(sineRamp(std::nextafter(edge, 0.0f), a, b), sineRamp(edge, a, b), 1e-5f);
        float previous = -1.0f;
        for (int i = 0; i <= 1000; ++i) {
            float const v = sineRamp(float(i) / 1000.0f, a, b);
            ASSERT_GE(v, previous) << i;  // never runs backward
            previous = v;
        }
    }
    // The ease-in's sine runs in double precision on the single-precision pi/2, so t = 0 lands a
    // hair above 0; a float sine would give exactly 0.
    EXPECT_GT(sineRamp(0.0f, 0.8f, 0.95f), 0.0f);
    // A breakpoint at 1 has no ease-out: no 0 / 0 at the end.
    EXPECT_FLOAT_EQ(sineRamp(1.0f, 0.5f, 1.0f), 1.0f);
}

TEST(PulseCurve, ParabolaAndSymmetricOddPowers) {
    EXPECT_FLOAT_EQ(pulseCurve(2, 0.25f), 0.75f);
    EXPECT_FLOAT_EQ(pulseCurve(3, 0.75f), 0.875f);
    EXPECT_FLOAT_EQ(pulseCurve(3, 0.25f), 0.875f);
    for (int n : {2, 3, 4, 7}) {
        EXPECT_FLOAT_EQ(pulseCurve(n, 0.0f), 0.0f);
        EXPECT_FLOAT_EQ(pulseCurve(n, 1.0f), 0.0f);
        EXPECT_FLOAT_EQ(pulseCurve(n, 0.5f), 1.0f);
    }
}

// Updates until the state changes; the number of updates it took.
int updatesUntil(PopInAnimation& a, uint32_t state, float dt) {
    for (int n = 1; n <= 10000; ++n) {
        a.update(dt);
        if (a.state() == state) return n;
    }
    return -1;
}

TEST(PopInAnimation, GrowSettleAndShrinkTimesToTheFrame) {
    // 250 ms to grow, about 167 to settle, 200 to shrink from 1: ceil(time / dt) updates.
    struct Case {
        float dt;
        int grow, settle, shrink;
    } const cases[] = {{16.0f, 16, 11, 13}, {17.0f, 15, 10, 12}, {100.0f, 3, 2, 2}};
    for (auto const& c : cases) {
        SCOPED_TRACE(c.dt);
        PopInAnimation a;
        EXPECT_TRUE(a.isIdle());
        a.update(c.dt);
        EXPECT_EQ(a.value(), 0.0f);  // idle: nothing moves
        a.start();
        int n = 0;
        while (a.phase() == 0 && n < 1000) {
            a.update(c.dt);
            ++n;
        }
        EXPECT_EQ(n, c.grow);
        EXPECT_FLOAT_EQ(a.value(), 1.2f);
        EXPECT_EQ(updatesUntil(a, PopInAnimation::kShown, c.dt), c.settle);
        EXPECT_FLOAT_EQ(a.value(), 1.0f);
        a.update(c.dt);
        EXPECT_FLOAT_EQ(a.value(), 1.0f);  // shown: stays
        a.dismiss();
        EXPECT_EQ(updatesUntil(a, PopInAnimation::kHidden, c.dt), c.shrink);
        EXPECT_EQ(a.value(), 0.0f);
    }
}

TEST(PopInAnimation, HugeStepsDismissalClampAndRestart) {
    for (float huge : {251.0f, 1e6f, FLT_MAX}) {
        PopInAnimation a;
        a.start();
        a.update(huge);
        EXPECT_EQ(a.phase(), 1u);
        EXPECT_EQ(a.state(), PopInAnimation::kAnimating);
        EXPECT_FLOAT_EQ(a.value(), 1.2f);
        a.update(huge);
        EXPECT_TRUE(a.isShown());
        EXPECT_FLOAT_EQ(a.value(), 1.0f);
        a.dismiss();
        a.update(huge);
        EXPECT_TRUE(a.isHidden());
    }

    // Dismissed at the overshoot: one 16 ms update gives 1.0 (the clamp), not 1.12; from there
    // 200 ms more.
    PopInAnimation a;
    a.start();
    a.update(250.0f);
    ASSERT_FLOAT_EQ(a.value(), 1.2f);
    a.dismiss();
    a.update(16.0f);
    EXPECT_FLOAT_EQ(a.value(), 1.0f);
    EXPECT_EQ(updatesUntil(a, PopInAnimation::kHidden, 16.0f), 13);

    // Dismissed half-way through growing, a new start resumes in the phase it stopped in.
    PopInAnimation b;
    b.start();
    b.update(250.0f);  // into the settle phase
    b.update(50.0f);
    b.dismiss();
    b.update(1000.0f);
    ASSERT_TRUE(b.isHidden());
    b.start();
    EXPECT_EQ(b.value(), 0.0f);
    EXPECT_EQ(b.phase(), 1u);
    EXPECT_EQ(updatesUntil(b, PopInAnimation::kShown, 16.0f), 8);  // the rest of 167 ms from 0.3
}

TEST(PopInTransform, ZeroUntilUpdatedThenScalesAboutItsCentre) {
    platform_services::setScreenSizes(1280, 720, 1280, 720);
    PopInTransform t(kAnchorNone, glm::vec2(300, 200), glm::vec2(10, 20));
    EXPECT_EQ(t.matrix(), glm::mat4(0.0f));
    EXPECT_EQ(t.position(), glm::vec2(300, 200));
    t.animation().start();
    t.update(1e6f);
    t.update(1e6f);  // shown at 1.0
    auto apply = [&](glm::vec2 p) { return glm::vec2(t.matrix() * glm::vec4(p, 0, 1)); };
    EXPECT_EQ(apply(glm::vec2(10, 20)), glm::vec2(310, 220));  // the centre goes to its place
    EXPECT_EQ(apply(glm::vec2(0, 0)), glm::vec2(300, 200));
    t.animation().value() = 0.5f;
    t.update(0.0f);
    EXPECT_EQ(apply(glm::vec2(0, 0)), glm::vec2(305, 210));  // half size about the centre

    // Anchored on the screen centre: the confirmation panel's transform.
    PopInTransform c(kAnchorCenter, glm::vec2(0), glm::vec2(0));
    EXPECT_EQ(c.position(), glm::vec2(640, 360));
}

TEST(Fader, FadesInOverOneOverSpeedAndClamps) {
    Fader f(0.01f);
    EXPECT_TRUE(f.isFadedOut());
    f.fadeIn();
    for (int i = 0; i < 9; ++i) f.update(10.0f);
    EXPECT_FALSE(f.isFadedIn());
    f.update(10.0f);
    f.update(10.0f);
    EXPECT_TRUE(f.isFadedIn());
    f.fadeOut();
    f.update(FLT_MAX);
    EXPECT_TRUE(f.isFadedOut());
}

}  // namespace
