#pragma once
// A scalar that runs forward or backward through time (seconds) and maps its time to a value
// under a wrap mode. The animated meshes step it; the camera path sets its time.
#include <cstdint>

#include "level/PristineLevelBasics.h"

class AnimatedValue {
public:
    enum State : int32_t { Stopped = 0, Forward = 1, Backward = 2, Finished = 3 };

    AnimatedValue(PristineLevel::WrapMode mode, float min, float max, float rate, float duration, float startTime);
    // The form the animated meshes and the camera path use: the range run repeatCount times
    // (endlessly when negative), starting startOffset value units in. A rate of 0 (or one that is
    // not a number) holds the start value for ever instead of dividing by it.
    static AnimatedValue overRange(PristineLevel::WrapMode mode, float min, float max, float rate,
                                   int32_t repeatCount, float startOffset);

    void playForward() { state_ = Forward; }
    void playBackward() { state_ = Backward; }
    void stop() { state_ = Stopped; }
    void pause() { state_ = Stopped; }
    void finish() { state_ = Finished; }
    void reset();
    void setTime(float t);
    void update(float dt);

    bool isFinished() const { return state_ == Finished; }
    float value() const { return value_; }
    float time() const { return time_; }
    State state() const { return State(state_); }

private:
    void recompute();

    float min_;
    float max_;
    float rate_;
    PristineLevel::WrapMode mode_;
    float duration_;
    float startTime_;
    float time_;
    float value_ = 0.0f;
    int32_t state_ = Stopped;
};
