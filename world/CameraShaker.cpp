#include "world/CameraShaker.h"

#include <algorithm>
#include <cmath>

#include "world/Camera.h"
#include "world/Player.h"

namespace {

// A fade time of 0 jumps the fade.
float rateOver(float timeMs) { return timeMs > 0.0f ? 1.0f / timeMs : INFINITY; }

}  // namespace

CameraShaker::CameraShaker(Player::Player* player, PristineLevel::CameraShaker const& record)
    : player_(player),
      centreX_(record.position.x),
      centreY_(record.position.y),
      lowRatio_(record.secondaryFactor),
      amplitude_(record.amplitude),
      innerRadius_(record.innerRadius),
      falloff_(record.falloff),
      duration_(record.duration),
      fadeInTime_(record.fadeInTime),
      fadeOutTime_(record.fadeOutTime),
      fadeInRate_(rateOver(record.fadeInTime)),
      fadeOutRate_(rateOver(record.fadeOutTime)),
      startTime_(-INFINITY) {}

void CameraShaker::start() {
    startTime_ = -INFINITY;
    state_ = Running;
}

float CameraShaker::amplitudeAt(float d) const {
    if (!(falloff_ > 0.0f)) {
        // No falloff: full inside the inner radius, none beyond.
        return d <= innerRadius_ ? amplitude_ : 0.0f;
    }
    return std::min(amplitude_, std::max(0.0f, amplitude_ - (amplitude_ / falloff_) * (d - innerRadius_)));
}

bool CameraShaker::update(Camera& camera, float time, float dt) {
    if (startTime_ == -INFINITY) {
        startTime_ = time;
    }
    float const elapsed = time - startTime_;
    if (elapsed >= duration_ - fadeOutTime_ || state_ == Stopping) {
        fade_ = std::isinf(fadeOutRate_) ? 0.0f : fade_ - fadeOutRate_ * dt;
    } else if (elapsed <= fadeInTime_) {
        fade_ = std::isinf(fadeInRate_) ? 1.0f : fade_ + fadeInRate_ * dt;
    } else {
        fade_ = 1.0f;
    }
    fade_ = std::clamp(fade_, 0.0f, 1.0f);
    glm::vec2 const p = player_->getPosition();
    float const d = std::hypot(p.x - centreX_, p.y - centreY_);
    float const a = amplitudeAt(d);
    if (elapsed >= duration_ || state_ == Idle) {
        return true;
    }
    float const low = a * lowRatio_ * fade_;
    float const high = a * fade_;
    camera.shake(low, std::max(low, high));
    return false;
}
