#include "menus/ExpandingSprite.h"

#include <algorithm>

#include <glm/gtc/matrix_transform.hpp>

ExpandingSprite::ExpandingSprite(Sprite&& sprite, ScreenAnchor anchor, Parameters const& p,
                                 glm::vec2 const& translation)
    : sprite_(std::move(sprite)), quad_(sprite_.quad()), fadeStart_(p.fadeStart), maxScale_(p.maxScale),
      speed_(p.speed), pivot_(anchoredPosition(anchor, nullptr) + translation) {}

void ExpandingSprite::start() {
    state_ = kRunning;
    scale_ = 0.0f;
    fade_ = 1.0f;
}

void ExpandingSprite::update(float dt) {
    if (state_ != kRunning) return;
    if (scale_ >= maxScale_) state_ = kFinished;
    fade_ = fadeStart_ - fadeStart_ * (scale_ / maxScale_);
    scale_ = std::min(maxScale_, std::max(0.0f, scale_ + speed_ * dt));
    matrix_ = glm::scale(glm::translate(glm::mat4(1.0f), glm::vec3(pivot_, 0.0f)), glm::vec3(scale_, scale_, 1.0f));
}
