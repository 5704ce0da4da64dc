#include "graphics/Scroller.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "os/services/PlatformServices.h"

namespace {
float sign(float v) { return v > 0.0f ? 1.0f : (v < 0.0f ? -1.0f : 0.0f); }
}  // namespace

Scroller::Parameters::Parameters(glm::vec4 const& touchRect, uint32_t axis, std::optional<float> pageSize,
                                 float rubberBandLimit, float nudgeStep, float deceleration, float maximum,
                                 float minimum)
    : rubberBandLimit(rubberBandLimit), nudgeStep(nudgeStep), deceleration(deceleration), touchRect(touchRect),
      maximum(maximum), minimum(minimum), axis(axis), pageSize(pageSize) {}

Scroller::Scroller(Parameters const& p, Clock clock)
    : pageSize_(p.pageSize),
      axis_(p.axis),
      rubberBandLimit_(p.rubberBandLimit),
      touchRect_(p.touchRect),
      maximum_(p.maximum),
      minimum_(p.minimum),
      nudgeStep_(p.nudgeStep),
      deceleration_(p.deceleration),
      clock_(clock ? std::move(clock) : Clock([] { return uint64_t(nowMs()); })) {}

std::optional<int32_t> Scroller::currentPage() const {
    if (!paged()) return std::nullopt;
    float const page = std::round(offset_ / *pageSize_);
    // An offset far past any page answers the last page in its direction, not an overflow.
    if (std::isnan(page)) return 0;
    if (page >= 2147483648.0f) return std::numeric_limits<int32_t>::max();
    if (page <= -2147483648.0f) return std::numeric_limits<int32_t>::min();
    return int32_t(page);
}

void Scroller::update(float dt) {
    if (!dragging_) accumulator_ += velocity_ * dt * speedScale_;
    float const slowdown = deceleration_ * dt;
    velocity_ = velocity_ > 0.0f ? std::max(velocity_ - slowdown, 0.0f) : std::min(velocity_ + slowdown, 0.0f);
    // Whole units go into the offset, leaving the accumulator within [-1, 1]; computed rather
    // than counted so a huge velocity cannot stall the frame.
    if (!std::isfinite(accumulator_)) accumulator_ = 0.0f;
    if (accumulator_ < -1.0f) {
        float const whole = std::ceil(-1.0f - accumulator_);
        accumulator_ += whole;
        offset_ -= whole;
    } else if (accumulator_ > 1.0f) {
        float const whole = std::ceil(accumulator_ - 1.0f);
        accumulator_ -= whole;
        offset_ += whole;
    }
    if (dragging_) return;
    if (buttonScroll_) offset_ = std::clamp(offset_, minimum_, maximum_);
    float bound = offset_;
    if (offset_ < minimum_)
        bound = minimum_;
    else if (offset_ > maximum_)
        bound = maximum_;
    if (bound != offset_) {
        // A spring back toward the crossed end.
        accumulator_ += (offset_ - bound) * speedScale_ * dt * -0.005f;
        velocity_ = 0.0f;
    }
}

bool Scroller::contains(glm::vec2 const& p) const {
    glm::vec4 const& r = touchRect_;
    return p.x >= r.x && p.x <= r.x + r.z && p.y >= r.y && p.y <= r.y + r.w;
}

void Scroller::startDrag(glm::vec2 const& point) {
    dragging_ = 1;
    buttonScroll_ = 0;
    touchStartTime_ = clock_();
    velocity_ = 0.0f;
    accumulator_ = 0.0f;
    lastCoordinate_ = startCoordinate_ = coordinate(point);
    justStarted_ = 1;
}

bool Scroller::touchBegan(glm::vec2 const& point) {
    sampledVelocity_ = 0.0f;
    moved_ = 0.0f;
    if (!contains(point)) return false;
    startDrag(point);
    return true;
}

void Scroller::touchMoved(glm::vec2 const& point) {
    if (!dragging_) {
        sampledVelocity_ = 0.0f;
        moved_ = 0.0f;
        if (contains(point)) startDrag(point);
        return;
    }
    float const c = coordinate(point);
    float const delta = c - lastCoordinate_;
    float overshoot = 0.0f;
    if (delta < 0.0f && offset_ < minimum_)
        overshoot = minimum_ - offset_;
    else if (delta > 0.0f && offset_ > maximum_)
        overshoot = offset_ - maximum_;
    // Without a band, any move further out is damped to nothing.
    float const factor =
        overshoot > 0.0f ? (rubberBandLimit_ > 0.0f ? std::clamp(1.0f - overshoot / rubberBandLimit_, 0.0f, 1.0f) : 0.0f)
                         : 1.0f;
    float const moved = offset_ + delta * factor;
    if (!(moved >= minimum_ - rubberBandLimit_ && moved <= maximum_ + rubberBandLimit_)) return;
    offset_ = moved;
    lastCoordinate_ = c;
    buttonScroll_ = 0;
    uint64_t const now = clock_();
    if (lastMoveTime_ != kNoTime) {
        double const elapsed = now >= lastMoveTime_ ? double(now - lastMoveTime_) : 0.0;
        sampledVelocity_ = float(delta / std::max(elapsed, 32.0));
        moved_ = 1.0f;
        justStarted_ = 0;
    }
    lastMoveTime_ = now;
}

void Scroller::touchEnded(glm::vec2 const& point) {
    if (dragging_) {
        float const total = coordinate(point) - startCoordinate_;
        uint64_t const now = clock_();
        double const held = now >= touchStartTime_ ? double(now - touchStartTime_) : 0.0;
        if (justStarted_ || (held < 129.0 && std::abs(total) > 64.0f))
            velocity_ = float(total / std::clamp(held, 32.0, 128.0));
        else if (moved_ != 0.0f)
            velocity_ = sampledVelocity_;
        sampledVelocity_ = 0.0f;
        moved_ = 0.0f;
        buttonScroll_ = 0;
    }
    dragging_ = 0;
    lastMoveTime_ = kNoTime;
    if (!paged()) return;
    float const p = *pageSize_;
    if (velocity_ == 0.0f) velocity_ = std::round(offset_ / p) - offset_ / p;
    float const a = deceleration_ * sign(velocity_);
    float const distance = a != 0.0f ? velocity_ * velocity_ / (2.0f * a) : 0.0f;
    float const target = std::round((distance + offset_) / p);
    velocity_ = velocityToCover(target * p - offset_);
}

float Scroller::velocityToCover(float delta) const {
    return sign(delta) * std::sqrt(std::abs(2.0f * deceleration_ * delta));
}

void Scroller::scrollBackward() {
    velocity_ = velocity_ > 0.0f ? 0.0f : velocity_ - nudgeStep_;
    buttonScroll_ = 1;
}

void Scroller::scrollForward() {
    velocity_ = velocity_ < 0.0f ? 0.0f : velocity_ + nudgeStep_;
    buttonScroll_ = 1;
}

void Scroller::scrollToPage(int32_t page) {
    if (!paged()) return;
    velocity_ = velocityToCover(float(page) * *pageSize_ - offset_);
}
