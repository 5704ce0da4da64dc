#include <gtest/gtest.h>

#include "os/services/PlatformServices.h"
#include "os/shell/GlView.h"

using os::GlView;

namespace {

void expectSizes(int w, int h, float vw, float vh, float bw, float bh) {
    GlView::Sizes s = GlView::resolutionFor(w, h);
    EXPECT_EQ(s.virtualWidth, vw) << w << "x" << h;
    EXPECT_EQ(s.virtualHeight, vh) << w << "x" << h;
    EXPECT_EQ(s.backingWidth, bw) << w << "x" << h;
    EXPECT_EQ(s.backingHeight, bh) << w << "x" << h;
}

TEST(GlView, ResolutionTable) {
    expectSizes(960, 641, 1080, 720, 960, 640);  // listed widths store the table's height
    expectSizes(1024, 768, 1280, 960, 1024, 768);
    expectSizes(1136, 640, 1280, 720, 1136, 640);
    expectSizes(1334, 750, 1280, 720, 1334, 750);
    expectSizes(2048, 1536, 1280, 960, 2048, 1536);
    expectSizes(2208, 1242, 1280, 720, 2208, 1242);
    expectSizes(1200, 900, 1200, 900, 1200, 900);
    expectSizes(1920, 1080, 1280, 960, 1920, 1080);
    expectSizes(1280, 960, 1280, 960, 1280, 960);
    expectSizes(1281, 961, 1280, 960, 1281, 961);
}

TEST(GlView, TouchesBecomeVirtualPixelsWithYUp) {
    GlView view;
    view.setUp(2048, 1536, 2.0f);
    glm::vec2 p = view.toVirtual(512, 384);
    EXPECT_FLOAT_EQ(p.x, 640);
    EXPECT_FLOAT_EQ(p.y, 480);
    EXPECT_FLOAT_EQ(view.toVirtual(0, 0).y, 960);      // top edge
    EXPECT_FLOAT_EQ(view.toVirtual(0, 768).y, 0);      // bottom edge
    EXPECT_FLOAT_EQ(view.toVirtual(1024, 0).x, 1280);  // right edge
    EXPECT_EQ(virtualWidth(), 1280);
    EXPECT_EQ(backingHeight(), 1536);

    view.setUp(1334, 750, 1.0f);
    p = view.toVirtual(667, 0);
    EXPECT_FLOAT_EQ(p.x, 640);
    EXPECT_FLOAT_EQ(p.y, 720);
    EXPECT_EQ(virtualHeight(), 720);
    EXPECT_EQ(backingWidth(), 1334);
}

TEST(GlView, EmptyFramebufferGivesFiniteTouches) {
    GlView view;
    view.setUp(0, 0, 1.0f);
    glm::vec2 p = view.toVirtual(10, 10);
    EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
}

}  // namespace
