#include <gtest/gtest.h>

#include <cmath>

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
    expectSizes(2048, 1536, 1280, 960, 2048, 1536);
    expectSizes(1200, 900, 1200, 900, 1200, 900);
    expectSizes(1920, 1080, 1280, 960, 1920, 1080);
}

TEST(GlView, TouchesBecomeVirtualPixelsWithYUp) {
    GlView view;
    view.setUp(2048, 1536, 2.0f);
    glm::vec2 p = view.toVirtual(512, 384);
    EXPECT_FLOAT_EQ(p.x, 640);
    EXPECT_FLOAT_EQ(p.y, 480);
    EXPECT_FLOAT_EQ(view.toVirtual(0, 0).y, 960);  // top edge
    EXPECT_FLOAT_EQ(view.toVirtual(0, 768).y, 0);  // bottom edge

    view.setUp(1334, 750, 1.0f);
    EXPECT_FLOAT_EQ(view.toVirtual(667, 0).x, 640);
    EXPECT_EQ(virtualHeight(), 720);
    EXPECT_EQ(backingWidth(), 1334);

    view.setUp(0, 0, 1.0f);  // no framebuffer: no division by zero
    p = view.toVirtual(10, 10);
    EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
}

}  // namespace
