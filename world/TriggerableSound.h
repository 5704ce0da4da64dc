#pragma once
// A level sound that signals start and stop, fading in and out, optionally following a body.
#include <cstdint>

#include "audio/Sound.h"
#include "level/LevelObjects.h"
#include "world/CulledVector.h"

namespace Audio {
class Context;
}
class b2Body;
class DynamicBody;

class TriggerableSound {
public:
    enum State : uint32_t { Playing = 0, Stopping = 1 };

    // A body index outside the dynamic bodies leaves the sound unattached, with a log line.
    TriggerableSound(Audio::Context* audio, CulledVector<DynamicBody, DynamicBody*>& bodies,
                     PristineLevel::TriggerableSound const& record);

    void play();
    void stop() { state_ = Stopping; }
    // Returns false: an active sound stays active.
    bool update(float dt);
    // The active list's hooks.
    void resume();
    void silence();

    float gain() const { return gain_; }
    uint32_t state() const { return state_; }
    Sound const& sound() const { return sound_; }

private:
    b2Body* body_ = nullptr;
    Sound sound_;
    float fadeInRate_;   // gain per ms; +infinity: no fade
    float fadeOutRate_;
    float targetGain_;
    float gain_ = 0.0f;
    uint32_t state_ = Stopping;
};
