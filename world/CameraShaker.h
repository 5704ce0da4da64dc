#pragma once
// Shakes the camera while it runs: the strength fades in and out and falls off with the player's
// distance from the centre. A run is stepped by one task of the world's list and lasts its
// duration from its first update, also once stopped.
#include <cstdint>

#include "level/LevelObjects.h"

class Camera;
namespace Player {
class Player;
}

class CameraShaker {
public:
    enum State : uint32_t { Idle = 0, Stopping = 1, Running = 2 };

    CameraShaker(Player::Player* player, PristineLevel::CameraShaker const& record);

    // Running; the next update starts the run's timing anew, from the current fade.
    void start();
    // From the next update the fade only falls.
    void stop() { state_ = Stopping; }
    // True when the run is over.
    bool update(Camera& camera, float timeMs, float dtMs);

    uint32_t state() const { return state_; }
    float fade() const { return fade_; }
    // The amplitude at a distance from the centre, before the fade.
    float amplitudeAt(float distance) const;

private:
    Player::Player* player_;
    float centreX_;
    float centreY_;
    float lowRatio_;
    float amplitude_;
    float innerRadius_;
    float falloff_;
    float duration_;
    float fadeInTime_;
    float fadeOutTime_;
    float fadeInRate_;
    float fadeOutRate_;
    float startTime_;
    uint32_t state_ = Idle;
    float fade_ = 0.0f;
};
