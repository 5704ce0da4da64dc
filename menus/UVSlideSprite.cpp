#include "menus/UVSlideSprite.h"

#include <algorithm>

#include "menus/SineRamp.h"

UVSlideSprite::UVSlideSprite(Sprite&& sprite, Parameters const& p)
    : speed_(p.speed), from_(p.from), to_(p.to), offset_(p.from), sprite_(std::move(sprite)), quad_(sprite_.quad()),
      a_(p.a), b_(p.b) {}

void UVSlideSprite::start() {
    state_ = kRunning;
    progress_ = 0.0f;
}

void UVSlideSprite::update(float dt) {
    if (state_ != kRunning) return;
    progress_ = std::min(std::max(progress_ + speed_ * dt, 0.0f), 1.0f);
    offset_ = from_ + (to_ - from_) * sineRamp(progress_, a_, b_);
    if (progress_ >= 1.0f) state_ = kFinished;
}
