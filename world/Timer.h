#pragma once
// A one-shot countdown in milliseconds; it clears itself on the step that reaches its duration.
// An infinite duration blocks until it is started again with a finite one.
#include <algorithm>

class Timer {
public:
    void start(float duration) {
        active_ = true;
        elapsed_ = 0.0f;
        duration_ = duration;
    }
    void advance(float dt) {
        if (!active_) {
            return;
        }
        elapsed_ = std::min(std::max(elapsed_ + dt, 0.0f), duration_);
        active_ = elapsed_ < duration_;
    }
    void clear() {
        active_ = false;
        elapsed_ = 0.0f;
    }
    void reset() {
        clear();
        duration_ = 0.0f;
    }
    bool isActive() const { return active_; }

private:
    bool active_ = false;
    float elapsed_ = 0.0f;
    float duration_ = 0.0f;
};
