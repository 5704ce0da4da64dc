#include "game/TouchAndSwipeControlScheme.h"

#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <cmath>

#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "os/Assets.h"
#include "os/services/PlatformServices.h"

namespace {

float densityScale() {
    float const s = screenPPI() * virtualHeight() / backingHeight() / 366.75f;
    // A screen not set up yet (height 0) would give infinity or NaN; take the reference density.
    if (!std::isfinite(s)) return 1.0f;
    return std::max(s, 0.25f);
}

float roundHalfAway(float x) { return x >= 0.0f ? std::floor(x + 0.5f) : -std::floor(-x + 0.5f); }

Sprite slider(Graphics::Context* graphics, TextureDescriptor const& texture, glm::vec2 offset,
              std::optional<glm::vec2> size, float uvX) {
    return Sprite(Graphics::Texture(graphics, texture), kAnchorOrigin, offset, size, glm::vec2(uvX, 1.0f));
}

}  // namespace

TouchAndSwipeControlScheme::TouchAndSwipeControlScheme(Graphics::Context* graphics)
    : splitX_(virtualWidth() * 0.5f),
      scale_(densityScale()),
      radius_(roundHalfAway(75.0f * scale_)),
      swipeStep_(50.0f * scale_),
      leftMargin_(100.0f * scale_),
      backLeft_(slider(graphics, Assets::texHudTouchsliderBackground, {-(radius_ - 3.0f), 158.0f * scale_},
                       std::nullopt, 1.0f)),
      backRight_(slider(graphics, Assets::texHudTouchsliderBackground, {radius_ - 3.0f, 158.0f * scale_},
                        std::nullopt, -1.0f)),
      backMid_(slider(graphics, Assets::texHudTouchsliderBackgroundMid, {19.5f - radius_, 158.0f * scale_},
                      glm::vec2(2.0f * (radius_ - 19.0f), 32.0f), 1.0f)),
      indicator_(slider(graphics, Assets::texHudTouchsliderIndicator, {0.0f, 158.0f * scale_}, std::nullopt, 1.0f)),
      stopLeft_(
          slider(graphics, Assets::texHudTouchsliderIndicatorStop, {-4.0f, 158.0f * scale_}, std::nullopt, -1.0f)),
      stopRight_(
          slider(graphics, Assets::texHudTouchsliderIndicatorStop, {4.0f, 158.0f * scale_}, std::nullopt, 1.0f)),
      drawMarginX_(radius_ + 32.0f),
      lowEnd_(isLowEndDevice()) {}

void TouchAndSwipeControlScheme::touchBegan(glm::vec2 const& p, uint32_t) {
    if (p.x < splitX_) {
        // A second left-half touch re-anchors the slider.
        stickActive_ = true;
        stickCentreX_ = std::min(splitX_, std::max(radius_ + leftMargin_, p.x));
        stickTouch_ = p;
        input_.moveAmount = 0.0f;
    } else if (!swipeActive_) {
        swipeActive_ = true;
        swipeRefY_ = p.y;
    }
    ++touchCount_;
}

void TouchAndSwipeControlScheme::touchMoved(glm::vec2 const& p, uint32_t) {
    float const c = stickCentreX_;
    float d = std::fabs(p.x - c);
    if (stickActive_ && (p.x < splitX_ || d < 4.0f * radius_)) {
        if (d > radius_) {
            // The centre is dragged along so the thumb stays one radius away.
            float const excess = d - radius_;
            if (p.x < c) {
                stickCentreX_ = std::max(radius_ + leftMargin_, c - excess);
            } else if (p.x > c) {
                stickCentreX_ = c + excess;
            }
            d = radius_;
        }
        float t = radius_ > 0.0f ? std::clamp(d / radius_, 0.0f, 1.0f) : 1.0f;
        if (1.0f - t < 0.01f) t = 1.0f;
        if (p.x < c) {
            input_.left = 1;
            input_.right = 0;
            input_.moveAmount = t;
        } else if (p.x > c) {
            input_.right = 1;
            input_.left = 0;
            input_.moveAmount = t;
        } else {
            input_.left = input_.right = 0;
            input_.moveAmount = 0.0f;
        }
        stickTouch_ = p;
        return;
    }
    if (p.x >= splitX_ && swipeActive_ && touchCount_ <= 2) {
        // The reference trails the finger by one step, so reversing takes two steps.
        float const e = std::fabs(p.y - swipeRefY_) - swipeStep_;
        if (p.y > swipeRefY_ && e >= 0.0f) {
            input_.jump = 1;
            input_.dive = 0;
            swipeRefY_ += e;
        } else if (p.y < swipeRefY_ && e >= 0.0f) {
            input_.dive = 1;
            input_.jump = 0;
            swipeRefY_ -= e;
        }
    }
}

void TouchAndSwipeControlScheme::touchEnded(glm::vec2 const& p, uint32_t) {
    uint32_t const n = touchCount_;
    // An end with no touch down (after a reset, or one the platform never began) would wrap the
    // count and block swipes for good.
    if (n == 0) return;
    bool const stickEnd = stickActive_ && (p.x < splitX_ || std::fabs(p.x - stickCentreX_) < 4.0f * radius_);
    if (stickEnd) {
        if (n >= 2) {
            stickActive_ = false;
            input_.left = input_.right = 0;
            touchCount_ = n - 1;
        } else {
            fullReset();
        }
    } else if (p.x >= splitX_) {
        if (n >= 2) {
            swipeActive_ = false;
            input_.jump = input_.dive = 0;
            touchCount_ = n - 1;
        } else {
            fullReset();
        }
    } else {
        touchCount_ = n - 1;
        if (touchCount_ == 0) fullReset();
    }
}

void TouchAndSwipeControlScheme::fullReset() {
    touchCount_ = 0;
    stickActive_ = false;
    swipeActive_ = false;
    input_.left = input_.right = input_.jump = input_.dive = 0;
}

void TouchAndSwipeControlScheme::reset() {
    input_ = InputState(0, 0, 0, 0, 1.0f);
    touchCount_ = 0;
    stickActive_ = false;
    swipeActive_ = false;
}

void TouchAndSwipeControlScheme::update(float dt) {
    if (stickActive_) {
        indicatorSide_ = input_.left != 0 ? -1.0f : 1.0f;
        stickAlpha_ = std::clamp(stickAlpha_ + 0.01f * dt, 0.0f, 1.0f);
        drawPos_.x = std::min(virtualWidth() * 0.5f - drawMarginX_, std::max(drawMarginX_, stickTouch_.x));
        drawPos_.y = std::min(virtualHeight() - drawMarginY_, std::max(drawMarginY_ * 0.5f, stickTouch_.y));
    } else {
        stickAlpha_ = std::clamp(stickAlpha_ - 0.01f * dt, 0.0f, 1.0f);
    }
}

void TouchAndSwipeControlScheme::draw(Graphics::Context* graphics, Graphics::StandardShader* shader,
                                      glm::mat4 const& hudMatrix, float alpha) {
    if (!stickActive_ || !visible_ || graphics == nullptr || shader == nullptr) return;
    graphics->setBlend(true);
    shader->use(1);
    float const k = lowEnd_ ? 2.0f : 1.0f;
    float const bx = roundHalfAway(k * drawPos_.x) / k + 0.375f;
    float const by = roundHalfAway(k * drawPos_.y) / k + 0.375f;
    glm::vec4 const colour(stickAlpha_ * alpha);
    shader->setPVM(glm::translate(hudMatrix, glm::vec3(bx, by, 0.0f)));
    shader->setColor(colour);
    backLeft_.draw(*shader);
    backRight_.draw(*shader);
    backMid_.draw(*shader);
    float const ix = bx + roundHalfAway(k * input_.moveAmount * indicatorSide_ * (radius_ - 17.0f)) / k;
    shader->setPVM(glm::translate(hudMatrix, glm::vec3(ix, by, 0.0f)));
    shader->setColor(colour);
    if (input_.moveAmount >= 1.0f) {
        (input_.left != 0 ? stopLeft_ : stopRight_).draw(*shader);
    } else {
        indicator_.draw(*shader);
    }
}
