#pragma once
// A value between 0 and 1 that moves toward one end at a fixed speed per ms.
class Fader {
public:
    // Starts faded out, heading out.
    explicit Fader(float speed) : speed_(speed) {}

    void update(float dt);
    void fadeIn() { direction_ = 1.0f; }
    void fadeOut() { direction_ = -1.0f; }
    bool isFadedOut() const { return value_ == 0.0f; }
    bool isFadedIn() const { return value_ == 1.0f; }
    float value() const { return value_; }

private:
    float speed_;
    float value_ = 0.0f;
    float direction_ = -1.0f;
};
