#include <gtest/gtest.h>

#include <SDL.h>
#include <signal.h>

#include <vector>

#include "platform/EventPump.h"

using platform::EventPump;
using platform::TouchEvent;

namespace {

struct Recorder : EventPump::Listener {
    void touch(TouchEvent const& e) override { events.push_back(e); }
    std::vector<TouchEvent> events;
};

SDL_Event mouseButton(Uint32 type, int x, int y, Uint8 clicks, Uint32 which = 0) {
    SDL_Event e{};
    e.type = type;
    e.button.which = which;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.clicks = clicks;
    e.button.x = x;
    e.button.y = y;
    return e;
}

SDL_Event mouseMotion(int x, int y, Uint32 which = 0) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.which = which;
    e.motion.x = x;
    e.motion.y = y;
    return e;
}

SDL_Event finger(Uint32 type, SDL_FingerID id, float x, float y, Uint32 time) {
    SDL_Event e{};
    e.type = type;
    e.tfinger.fingerId = id;
    e.tfinger.x = x;
    e.tfinger.y = y;
    e.tfinger.timestamp = time;
    return e;
}

TEST(EventPump, MouseDragIsOneTouchWithItsClickCount) {
    EventPump pump(1334, 750);
    Recorder r;
    pump.handle(mouseMotion(5, 5), r);  // hovering is not a touch
    pump.handle(mouseButton(SDL_MOUSEBUTTONDOWN, 10, 20, 2), r);
    pump.handle(mouseMotion(30, 40), r);
    pump.handle(mouseButton(SDL_MOUSEBUTTONUP, 50, 60, 2), r);
    pump.handle(mouseMotion(70, 80), r);
    SDL_Event right = mouseButton(SDL_MOUSEBUTTONDOWN, 1, 1, 1);
    right.button.button = SDL_BUTTON_RIGHT;
    pump.handle(right, r);
    // Mouse events SDL makes up from fingers would double every touch.
    pump.handle(mouseButton(SDL_MOUSEBUTTONDOWN, 1, 1, 1, SDL_TOUCH_MOUSEID), r);
    ASSERT_EQ(r.events.size(), 3u);
    EXPECT_EQ(r.events[0].phase, TouchEvent::Phase::Began);
    EXPECT_EQ(r.events[1].phase, TouchEvent::Phase::Moved);
    EXPECT_EQ(r.events[2].phase, TouchEvent::Phase::Ended);
    EXPECT_EQ(r.events[1].x, 30);
    EXPECT_EQ(r.events[1].y, 40);
    for (auto const& e : r.events) EXPECT_EQ(e.tapCount, 2u);
}

TEST(EventPump, FingersAreScaledAndQuickTapsCount) {
    EventPump pump(1000, 500);
    Recorder r;
    pump.handle(finger(SDL_FINGERDOWN, 1, 0.5f, 0.5f, 1000), r);
    pump.handle(finger(SDL_FINGERUP, 1, 0.5f, 0.5f, 1050), r);
    pump.handle(finger(SDL_FINGERDOWN, 1, 0.51f, 0.5f, 1200), r);  // 10 points away, 200 ms later
    pump.handle(finger(SDL_FINGERMOTION, 1, 0.6f, 0.4f, 1210), r);
    pump.handle(finger(SDL_FINGERUP, 1, 0.6f, 0.4f, 1250), r);
    pump.handle(finger(SDL_FINGERDOWN, 2, 0.51f, 0.5f, 1300 + EventPump::multiTapMs + 1), r);  // too late
    pump.handle(finger(SDL_FINGERDOWN, 3, 0.9f, 0.5f, 1700), r);  // too far
    pump.handle(finger(SDL_FINGERMOTION, 9, 0.1f, 0.1f, 1710), r);  // never went down
    pump.handle(finger(SDL_FINGERUP, 9, 0.1f, 0.1f, 1720), r);
    ASSERT_EQ(r.events.size(), 7u);
    EXPECT_EQ(r.events[0].x, 500);
    EXPECT_EQ(r.events[0].y, 250);
    EXPECT_EQ(r.events[0].tapCount, 1u);
    EXPECT_EQ(r.events[1].phase, TouchEvent::Phase::Ended);
    EXPECT_EQ(r.events[2].tapCount, 2u);
    EXPECT_EQ(r.events[3].phase, TouchEvent::Phase::Moved);
    EXPECT_FLOAT_EQ(r.events[3].y, 200);
    EXPECT_EQ(r.events[3].tapCount, 2u);
    EXPECT_EQ(r.events[4].tapCount, 2u);
    EXPECT_EQ(r.events[5].tapCount, 1u);
    EXPECT_EQ(r.events[6].tapCount, 1u);
}

TEST(EventPump, ManyFingersNeverOverflow) {
    EventPump pump(100, 100);
    Recorder r;
    for (int i = 0; i < 40; ++i) pump.handle(finger(SDL_FINGERDOWN, 100 + i, 0.1f * (i % 10), 0.5f, 10000 * i), r);
    for (int i = 0; i < 40; ++i) pump.handle(finger(SDL_FINGERUP, 100 + i, 0.5f, 0.5f, 500000), r);
    EXPECT_EQ(r.events.size(), 32u);  // the tracked fingers begin and end; the rest are dropped
}

TEST(EventPump, LosingFocusEndsTouchesInProgress) {
    EventPump pump(100, 100);
    Recorder r;
    pump.handle(mouseButton(SDL_MOUSEBUTTONDOWN, 10, 20, 1), r);
    pump.handle(mouseMotion(30, 40), r);
    pump.handle(finger(SDL_FINGERDOWN, 7, 0.5f, 0.5f, 100), r);
    pump.handle(finger(SDL_FINGERDOWN, 8, 0.1f, 0.1f, 100), r);
    pump.handle(finger(SDL_FINGERUP, 8, 0.1f, 0.1f, 150), r);
    SDL_Event focus{};
    focus.type = SDL_WINDOWEVENT;
    focus.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    r.events.clear();
    pump.handle(focus, r);
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(r.events[0].phase, TouchEvent::Phase::Ended);
    EXPECT_EQ(r.events[0].x, 30);
    EXPECT_EQ(r.events[1].phase, TouchEvent::Phase::Ended);
    EXPECT_EQ(r.events[1].x, 50);
    pump.handle(mouseButton(SDL_MOUSEBUTTONUP, 30, 40, 1), r);  // the late release ends nothing
    pump.handle(focus, r);
    EXPECT_EQ(r.events.size(), 2u);
}

TEST(EventPump, QuitEventAndTerminationSignalEndTheLoop) {
    {
        EventPump pump(100, 100);
        Recorder r;
        SDL_Event quit{};
        quit.type = SDL_QUIT;
        EXPECT_FALSE(pump.quitRequested());
        pump.handle(quit, r);
        EXPECT_TRUE(pump.quitRequested());
    }
    EventPump::installTerminationHandler();
    EventPump pump(100, 100);
    EXPECT_FALSE(pump.quitRequested());
    raise(SIGTERM);
    EXPECT_TRUE(pump.quitRequested());
}

}  // namespace
