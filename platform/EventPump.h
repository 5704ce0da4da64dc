#pragma once
#include <cstdint>

union SDL_Event;

namespace platform {

// One phase of one touch, in window points with y downwards.
struct TouchEvent {
    enum class Phase { Began, Moved, Ended };
    Phase phase;
    float x, y;
    uint32_t tapCount;
};

// Turns the window's events into touches and a quit request. Mouse buttons and fingers both
// become touches; a finger's tap count grows with quick taps at the same place.
class EventPump {
public:
    class Listener {
    public:
        virtual void touch(TouchEvent const& event) = 0;

    protected:
        ~Listener() = default;
    };

    // Taps closer than these in time and distance count as one multi-tap.
    static constexpr uint32_t multiTapMs = 350;
    static constexpr float multiTapPoints = 30.0f;

    // viewWidth/viewHeight: the window size in points, to place finger positions.
    EventPump(int viewWidth, int viewHeight);

    // SIGTERM, SIGINT and SIGHUP then end the loop like closing the window.
    static void installTerminationHandler();

    // Handles every pending event; false once the program should end.
    bool poll(Listener& listener);
    void handle(SDL_Event const& event, Listener& listener);
    bool quitRequested() const;

private:
    struct Finger {
        int64_t id;
        uint32_t tapCount;
        bool down;
        float x, y;  // last position
    };
    Finger* finger(int64_t id, bool create);
    // Ends every touch in progress (the window lost the input focus).
    void cancelTouches(Listener& listener);

    float viewWidth_, viewHeight_;
    bool quit_ = false;
    bool mouseDown_ = false;
    uint32_t mouseClicks_ = 1;
    float mouseX_ = 0, mouseY_ = 0;
    Finger fingers_[16] = {};
    uint32_t lastTapTime_ = 0;
    float lastTapX_ = -1e9f, lastTapY_ = -1e9f;
    uint32_t lastTapCount_ = 0;
};

}  // namespace platform
