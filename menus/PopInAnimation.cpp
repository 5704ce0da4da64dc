#include "menus/PopInAnimation.h"

#include <algorithm>

#include "menus/SineRamp.h"

namespace {
float clamp01(float x) { return std::min(std::max(x, 0.0f), 1.0f); }
}  // namespace

PopInAnimation::PopInAnimation(Parameters const& p)
    : peak_(p.peak), growA_(p.growA), growB_(p.growB), settleA_(p.settleA), settleB_(p.settleB),
      growSpeed_(p.growSpeed), settleSpeed_(p.settleSpeed), shrinkSpeed_(p.shrinkSpeed), rest_(p.rest) {}

void PopInAnimation::start() {
    value_ = 0.0f;
    state_ = kAnimating;
}

void PopInAnimation::update(float dt) {
    switch (state_) {
    case kShrinking:
        // Clamped to at most 1: a dismissal during the overshoot drops to 1 at once.
        value_ = clamp01(value_ - shrinkSpeed_ * dt);
        if (value_ <= 0.0f) state_ = kHidden;
        break;
    case kAnimating:
        if (phase_ == 0) {
            progress_ = clamp01(progress_ + growSpeed_ * dt);
            value_ = std::min(std::max(sineRamp(progress_, growA_, growB_) * peak_, 0.0f), peak_);
            if (progress_ >= 1.0f) {
                phase_ = 1;
                progress_ = 0.0f;
            }
        } else {
            progress_ = clamp01(progress_ + settleSpeed_ * dt);
            value_ = std::min(std::max(peak_ - (peak_ - rest_) * sineRamp(progress_, settleA_, settleB_), 0.0f), peak_);
            if (progress_ >= 1.0f) {
                phase_ = 0;
                state_ = kShown;
                progress_ = 0.0f;
            }
        }
        break;
    default:
        break;
    }
}
