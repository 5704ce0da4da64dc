#include "os/shell/GlView.h"

#include <glm/vec4.hpp>

#include "os/services/PlatformServices.h"

namespace os {

GlView::Sizes GlView::resolutionFor(int width, int height) {
    switch (width) {
        case 960: return {1080, 720, 960, 640};
        case 1024: return {1280, 960, 1024, 768};
        case 1136: return {1280, 720, 1136, 640};
        case 1334: return {1280, 720, 1334, 750};
        case 2048: return {1280, 960, 2048, 1536};
        case 2208: return {1280, 720, 2208, 1242};
        default:
            return {float(width <= 1280 ? width : 1280), float(height <= 960 ? height : 960), float(width),
                    float(height)};
    }
}

void GlView::setUp(int backingWidth, int backingHeight, float screenScale) {
    sizes_ = resolutionFor(backingWidth, backingHeight);
    screenScale_ = screenScale;
    touchMatrix_ = glm::mat4(1.0f);
    // An empty framebuffer would divide by zero: keep the identity then.
    if (sizes_.backingWidth > 0 && sizes_.backingHeight > 0) {
        touchMatrix_[0][0] = sizes_.virtualWidth / sizes_.backingWidth;
        touchMatrix_[1][1] = sizes_.virtualHeight / sizes_.backingHeight;
        touchMatrix_[2][2] = 0.0f;
    }
    platform_services::setScreenSizes(sizes_.virtualWidth, sizes_.virtualHeight, sizes_.backingWidth,
                                      sizes_.backingHeight);
}

glm::vec2 GlView::toVirtual(float x, float y) const {
    glm::vec4 p(x * screenScale_, sizes_.backingHeight - y * screenScale_, 0.0f, 1.0f);
    glm::vec4 v = touchMatrix_ * p;
    return {v.x, v.y};
}

}  // namespace os
