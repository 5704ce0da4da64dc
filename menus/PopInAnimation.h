#pragma once
// The pop-in scale tween: grows past its rest size, settles back, and shrinks away when
// dismissed. Updated once per frame with dt in ms.
#include <cstdint>

class PopInAnimation {
public:
    struct Parameters {
        float peak;                 // overshoot scale
        float growA, growB;         // sineRamp breakpoints of the grow phase
        float settleA, settleB;     // and of the settle phase
        float growSpeed;            // progress per ms
        float settleSpeed;          // progress per ms
        float shrinkSpeed;          // scale per ms
        float rest;                 // scale once settled
    };
    // 0 to 1.2 in 250 ms, back to 1.0 in about 167 ms; shrinking from 1.0 takes 200 ms.
    static constexpr Parameters standard{1.2f, 0.8f, 0.95f, 0.1f, 0.95f, 0.004f, 0.006f, 0.005f, 1.0f};

    enum State : uint32_t { kIdle = 0, kAnimating = 1, kShown = 2, kShrinking = 3, kHidden = 4 };

    explicit PopInAnimation(Parameters const& parameters = standard);

    void update(float dt);
    // Restarts at scale 0. A run dismissed before it settled resumes in the phase it reached.
    void start();
    // Shrinks from the current scale, from any state.
    void dismiss() { state_ = kShrinking; }

    bool isIdle() const { return state_ == kIdle; }
    bool isShown() const { return state_ == kShown; }
    bool isHidden() const { return state_ == kHidden; }
    uint32_t state() const { return state_; }
    uint32_t phase() const { return phase_; }
    float progress() const { return progress_; }
    float& value() { return value_; }
    float value() const { return value_; }

private:
    float value_ = 0.0f;
    float peak_;
    float progress_ = 0.0f;
    float growA_, growB_, settleA_, settleB_;
    uint32_t phase_ = 0;
    float growSpeed_, settleSpeed_;
    uint32_t state_ = kIdle;
    float shrinkSpeed_;
    float rest_;
};
