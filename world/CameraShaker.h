#pragma once
// A shake of the camera that level signals start and stop. A run lasts its duration from its
// first update, or ends once stopped.
#include "level/LevelObjects.h"

class Camera;
namespace Player {
class Player;
}

class CameraShaker {
public:
    CameraShaker(Player::Player*, PristineLevel::CameraShaker const& record) : duration_(record.duration) {}

    // Running again; the next update starts the run anew.
    void start() {
        running_ = true;
        started_ = false;
    }
    void stop() { running_ = false; }
    // True when the run is over.
    bool update(Camera* camera, float time, float dt);
    bool isRunning() const { return running_; }

private:
    float duration_;
    float startTime_ = 0.0f;
    bool started_ = false;
    bool running_ = false;
};
