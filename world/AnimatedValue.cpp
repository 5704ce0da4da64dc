#include "world/AnimatedValue.h"

#include <cmath>

#include "level/Curves.h"

AnimatedValue::AnimatedValue(PristineLevel::WrapMode mode, float min, float max, float rate, float duration,
                             float startTime)
    : min_(min), max_(max), rate_(rate), mode_(mode), duration_(duration), startTime_(startTime), time_(startTime) {
    recompute();
}

AnimatedValue AnimatedValue::overRange(PristineLevel::WrapMode mode, float min, float max, float rate,
                                       int32_t repeatCount, float startOffset) {
    float const endless = INFINITY;
    if (rate == 0.0f || std::isnan(rate)) {
        return AnimatedValue(mode, min, max, 0.0f, endless, 0.0f);
    }
    float const duration = repeatCount < 0 ? endless : (max - min) * float(repeatCount) / rate;
    return AnimatedValue(mode, min, max, rate, duration, startOffset / rate);
}

void AnimatedValue::recompute() {
    value_ = wrapBetween(mode_, time_, min_, max_, rate_);
}

void AnimatedValue::reset() {
    time_ = startTime_;
    recompute();
    state_ = Stopped;
}

void AnimatedValue::setTime(float t) {
    time_ = t;
    recompute();
}

void AnimatedValue::update(float dt) {
    if (state_ != Forward && state_ != Backward) {
        return;
    }
    time_ += state_ == Forward ? dt : -dt;
    if (time_ < 0.0f || time_ >= duration_) {
        state_ = Finished;
    }
    recompute();
}
