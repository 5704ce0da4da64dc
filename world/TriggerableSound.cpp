#include "world/TriggerableSound.h"

#include <box2d/b2_body.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "world/DynamicBody.h"

namespace {

// A zero time gives +infinity (no fade); a negative or non-finite one too, rather than a rate
// that never arrives.
float rateOver(float gain, float timeMs) {
    float const rate = gain / timeMs;
    return std::isfinite(rate) && rate > 0.0f ? rate : INFINITY;
}

}  // namespace

TriggerableSound::TriggerableSound(Audio::Context* audio, CulledVector<DynamicBody, DynamicBody*>& bodies,
                                   PristineLevel::TriggerableSound const& record)
    : sound_(audio, record.sound),
      fadeInRate_(rateOver(record.sound.params.gain, record.fadeInTime)),
      fadeOutRate_(rateOver(record.sound.params.gain, record.fadeOutTime)),
      targetGain_(record.sound.params.gain) {
    if (record.body >= 0) {
        if (std::size_t(record.body) < bodies.size()) {
            body_ = bodies[std::size_t(record.body)].getBody();
        } else {
            std::fprintf(stderr, "World: triggerable sound on body %d of %zu: not attached\n", record.body,
                         bodies.size());
        }
    }
}

void TriggerableSound::play() {
    SoundParams params = sound_.params();
    params.gain = gain_;
    if (body_ != nullptr) {
        params.position = glm::vec3(body_->GetPosition().x, body_->GetPosition().y, 0.0f);
    }
    sound_.play(params);
    state_ = Playing;
}

bool TriggerableSound::update(float dt) {
    if (body_ != nullptr) {
        sound_.setPosition(body_->GetPosition().x, body_->GetPosition().y);
    }
    if (state_ == Playing) {
        gain_ = std::isinf(fadeInRate_) ? targetGain_ : std::min(std::max(gain_ + fadeInRate_ * dt, 0.0f), targetGain_);
    } else if (state_ == Stopping) {
        if (std::isinf(fadeOutRate_)) {
            gain_ = 0.0f;
            sound_.stop();
        } else {
            gain_ = std::min(std::max(gain_ - fadeOutRate_ * dt, 0.0f), targetGain_);
            if (gain_ == 0.0f) {
                sound_.stop();
            }
        }
    }
    sound_.setGain(gain_);
    return false;
}

void TriggerableSound::resume() {
    if (state_ == Playing && sound_.params().isLooping()) {
        sound_.play();
    }
}

void TriggerableSound::silence() { sound_.stop(); }
