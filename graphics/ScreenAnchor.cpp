#include "graphics/ScreenAnchor.h"

#include "graphics/Texture.h"
#include "os/services/PlatformServices.h"

namespace {
glm::vec2 logicalScreen() { return glm::vec2(virtualWidth(), virtualHeight()); }
}  // namespace

glm::vec2 anchoredPosition(ScreenAnchor anchor, glm::vec2 const& box, glm::vec2 const& screen) {
    float const w = box.x, h = box.y, W = screen.x, H = screen.y;
    switch (anchor) {
    case kAnchorTopLeft: return {0.0f, H - h};
    case kAnchorTopRight: return {W - w, H - h};
    case kAnchorBottomLeft: return {0.0f, 0.0f};
    case kAnchorBottomRight: return {W - w, 0.0f};
    case kAnchorCenter: return {W / 2 - w / 2, H / 2 - h / 2};
    case kAnchorOrigin: return {-w / 2, -h / 2};
    default: return {0.0f, 0.0f};
    }
}

glm::vec2 anchoredPosition(ScreenAnchor anchor, Graphics::Texture const* texture) {
    glm::vec2 const box = texture ? glm::vec2(float(texture->width()), float(texture->height())) : glm::vec2(0.0f);
    return anchoredPosition(anchor, box, logicalScreen());
}

glm::mat4 screenProjection(glm::vec2 const& screen) {
    glm::mat4 m(1.0f);
    m[0][0] = 2.0f / screen.x;
    m[1][1] = 2.0f / screen.y;
    m[2][2] = -0.1f;
    m[3] = glm::vec4(-1.0f, -1.0f, 0.0f, 1.0f);
    return m;
}

glm::mat4 screenProjection() { return screenProjection(logicalScreen()); }
