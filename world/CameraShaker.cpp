#include "world/CameraShaker.h"

bool CameraShaker::update(Camera*, float time, float) {
    if (!running_) {
        return true;
    }
    if (!started_) {
        started_ = true;
        startTime_ = time;
    }
    if (time - startTime_ >= duration_) {
        running_ = false;
        return true;
    }
    return false;
}
