#include "game/OnScreenControlScheme.h"

#include "graphics/Context.h"
#include "graphics/DrawRecord.h"
#include "graphics/StandardShader.h"
#include "os/Assets.h"
#include "os/services/PlatformServices.h"

namespace {

Sprite sprite(Graphics::Context* graphics, TextureDescriptor const& phone, TextureDescriptor const& tablet,
              ScreenAnchor anchor, glm::vec2 phoneOffset, glm::vec2 tabletOffset) {
    bool const pad = isPad();
    return Sprite(Graphics::Texture(graphics, pad ? tablet : phone), anchor, pad ? tabletOffset : phoneOffset,
                  std::nullopt, glm::vec2(1.0f, 1.0f));
}

}  // namespace

OnScreenControlScheme::OnScreenControlScheme(Graphics::Context* graphics)
    : rocker_(sprite(graphics, Assets::texHudHudButtonLeftright, Assets::texHudHudButtonLeftrightIpad,
                     kAnchorBottomLeft, {-60.0f, 20.0f}, {10.0f, 250.0f})),
      jumpButton_(sprite(graphics, Assets::texHudHudButtonExpand, Assets::texHudHudButtonExpandIpad,
                         kAnchorBottomRight, {-40.0f, 20.0f}, {-30.0f, 230.0f})),
      diveButton_(sprite(graphics, Assets::texHudHudButtonPounce, Assets::texHudHudButtonPounceIpad,
                         kAnchorBottomRight, {-256.0f, 20.0f}, {-180.0f, 230.0f})) {
    glm::vec2 const half = isPad() ? glm::vec2(80.0f, 150.0f) : glm::vec2(128.0f, 256.0f);
    jumpArea_ = Rect(jumpButton_.quad().center(), half);
    diveArea_ = Rect(diveButton_.quad().center(), half);
    glm::vec2 const c = rocker_.quad().center();
    leftArea_.minX = c.x - 256.0f;
    leftArea_.maxX = c.x;
    leftArea_.minY = c.y - 256.0f;
    leftArea_.maxY = c.y + 256.0f;
    rightArea_ = leftArea_;
    rightArea_.minX = c.x;
    rightArea_.maxX = c.x + 256.0f;
}

// The areas of jump and dive overlap: a touch's start gives dive the overlap, a move gives jump.
void OnScreenControlScheme::press(glm::vec2 const& p, bool diveFirst) {
    if (leftArea_.contains(p)) {
        input_.left = 1;
        input_.right = 0;
    } else if (rightArea_.contains(p)) {
        input_.right = 1;
        input_.left = 0;
    } else if (diveFirst ? diveArea_.contains(p) : !jumpArea_.contains(p) && diveArea_.contains(p)) {
        input_.dive = 1;
        input_.jump = 0;
    } else if (jumpArea_.contains(p)) {
        input_.jump = 1;
        input_.dive = 0;
    }
}

void OnScreenControlScheme::touchBegan(glm::vec2 const& p, uint32_t) {
    press(p, true);
    ++touchCount_;
}

void OnScreenControlScheme::touchMoved(glm::vec2 const& p, uint32_t) {
    if (touchCount_ <= 0) return;
    press(p, false);
}

void OnScreenControlScheme::touchEnded(glm::vec2 const& p, uint32_t) {
    // An end after a reset belongs to a touch already forgotten.
    if (touchCount_ <= 0) return;
    if (leftArea_.contains(p)) {
        input_.left = 0;
    } else if (rightArea_.contains(p)) {
        input_.right = 0;
    } else if (jumpArea_.contains(p)) {
        input_.jump = 0;
    } else if (diveArea_.contains(p)) {
        input_.dive = 0;
    }
    if (--touchCount_ == 0) {
        input_.left = input_.right = input_.jump = input_.dive = 0;
    }
}

void OnScreenControlScheme::reset() {
    input_ = InputState(0, 0, 0, 0, 1.0f);
    touchCount_ = 0;
}

void OnScreenControlScheme::draw(Graphics::Context* graphics, Graphics::StandardShader* shader,
                                 glm::mat4 const& hudMatrix, float alpha) {
    if (graphics == nullptr || shader == nullptr) return;
    graphics->setBlend(true);
    shader->use(1);
    shader->setPVM(hudMatrix);
    shader->setColor(glm::vec4(alpha));
    rocker_.draw(*shader);
    jumpButton_.draw(*shader);
    diveButton_.draw(*shader);
    if (!Graphics::DrawRecord::on() || alpha < 0.3f) return;
    // Each control is round: what shows of it is the square of its image's height about its centre.
    for (Sprite const* control : {&rocker_, &jumpButton_, &diveButton_}) {
        glm::vec2 const c = control->quad().center();
        float const half = (control->quad().highest().y - control->quad().lowest().y) / 2.0f;
        Graphics::DrawRecord::button(c - half, c + half, hudMatrix, control);
    }
}
