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

// Windows the desktop opens: the 16:9 layout fills a 16:9 window whatever its size, and a click
// anywhere on it comes back to where that point is drawn; a device's own size keeps its row.
TEST(GlView, DesktopWindowsDrawTheWideLayoutAndTakeClicksWhereItIsDrawn) {
    for (auto [w, h] : {std::pair{1024, 576}, std::pair{960, 540}, std::pair{1136, 639}}) {
        GlView view;
        view.setUp(w, h, 1.0f);
        EXPECT_EQ(view.sizes().backingHeight, float(h)) << w << "x" << h;
        // The window's corners are the layout's; its point (512, 345) of 1024 x 576 is drawn at
        // the layout's (640, 288.75).
        EXPECT_EQ(view.toVirtual(0, float(h)), glm::vec2(0, 0)) << w << "x" << h;
        EXPECT_EQ(view.toVirtual(float(w), 0), glm::vec2(1280, 720)) << w << "x" << h;
        glm::vec2 const p = view.toVirtual(float(w) / 2, float(h) * 345 / 576);
        EXPECT_NEAR(p.x, 640, 0.01) << w << "x" << h;
        EXPECT_NEAR(p.y, 288.75, 0.01) << w << "x" << h;
    }
    EXPECT_EQ(GlView::windowResolutionFor(1334, 750).virtualHeight, 720);
    EXPECT_EQ(GlView::windowResolutionFor(1024, 768).virtualHeight, 960);

    // A window that is not 16:9 shows the whole layout unstretched between black bars; a click
    // on a bar lands outside the layout.
    GlView view;
    view.setUp(1024, 600, 1.0f);
    EXPECT_EQ(backingHeight(), 576);
    EXPECT_EQ(backingOriginY(), 12);
    EXPECT_EQ(view.toVirtual(0, 12), glm::vec2(0, 720));
    EXPECT_EQ(view.toVirtual(1024, 588), glm::vec2(1280, 0));
    EXPECT_LT(view.toVirtual(0, 599).y, 0);
}

}  // namespace
