#include "os/shell/GlView.h"

#include <algorithm>
#include <glm/vec4.hpp>

#include "os/services/PlatformServices.h"

namespace os {

namespace {

struct Device {
    int width;
    GlView::Sizes sizes;
};

Device const kDevices[] = {
    {960, {1080, 720, 960, 640}},   {1024, {1280, 960, 1024, 768}}, {1136, {1280, 720, 1136, 640}},
    {1334, {1280, 720, 1334, 750}}, {2048, {1280, 960, 2048, 1536}}, {2208, {1280, 720, 2208, 1242}},
};

Device const* deviceOfWidth(int width) {
    auto const it = std::find_if(std::begin(kDevices), std::end(kDevices), [&](Device const& d) { return d.width == width; });
    return it == std::end(kDevices) ? nullptr : it;
}

}  // namespace

GlView::Sizes GlView::resolutionFor(int width, int height) {
    if (Device const* d = deviceOfWidth(width)) return d->sizes;
    return {float(width <= 1280 ? width : 1280), float(height <= 960 ? height : 960), float(width), float(height)};
}

GlView::Sizes GlView::windowResolutionFor(int width, int height) {
    Device const* d = deviceOfWidth(width);
    if (d && d->sizes.backingHeight == float(height)) return d->sizes;
    int const w = std::max(0, std::min(width, height * 16 / 9)), h = std::max(0, std::min(height, width * 9 / 16));
    return {1280, 720, float(w), float(h), float((width - w) / 2), float((height - h) / 2)};
}

void GlView::setUp(int framebufferWidth, int framebufferHeight, float screenScale) {
    sizes_ = windowResolutionFor(framebufferWidth, framebufferHeight);
    screenScale_ = screenScale;
    framebufferHeight_ = float(framebufferHeight);
    touchMatrix_ = glm::mat4(1.0f);
    // An empty framebuffer would divide by zero: keep the identity then.
    if (sizes_.backingWidth > 0 && sizes_.backingHeight > 0) {
        touchMatrix_[0][0] = sizes_.virtualWidth / sizes_.backingWidth;
        touchMatrix_[1][1] = sizes_.virtualHeight / sizes_.backingHeight;
        touchMatrix_[2][2] = 0.0f;
    }
    platform_services::setScreenSizes(sizes_.virtualWidth, sizes_.virtualHeight, sizes_.backingWidth,
                                      sizes_.backingHeight);
    platform_services::setBackingOrigin(sizes_.originX, sizes_.originY);
}

glm::vec2 GlView::toVirtual(float x, float y) const {
    glm::vec4 p(x * screenScale_ - sizes_.originX, framebufferHeight_ - y * screenScale_ - sizes_.originY, 0.0f, 1.0f);
    glm::vec4 v = touchMatrix_ * p;
    return {v.x, v.y};
}

}  // namespace os
