#include "platform/EventPump.h"

#include <SDL.h>
#include <signal.h>

#include <cmath>

namespace platform {

namespace {
volatile sig_atomic_t terminationRequested = 0;
void onTerminationSignal(int) { terminationRequested = 1; }
}  // namespace

EventPump::EventPump(int viewWidth, int viewHeight) : viewWidth_(float(viewWidth)), viewHeight_(float(viewHeight)) {}

void EventPump::installTerminationHandler() {
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A closed terminal or a session ending ends the game as cleanly as SIGTERM does.
    sigaction(SIGHUP, &action, nullptr);
}

bool EventPump::quitRequested() const { return quit_ || terminationRequested; }

bool EventPump::poll(Listener& listener) {
    SDL_Event event;
    while (!quitRequested() && SDL_PollEvent(&event)) handle(event, listener);
    return !quitRequested();
}

EventPump::Finger* EventPump::finger(int64_t id, bool create) {
    Finger* spare = nullptr;
    for (Finger& f : fingers_) {
        if (f.down && f.id == id) return &f;
        if (!f.down && !spare) spare = &f;
    }
    if (!create || !spare) return nullptr;  // more fingers than we track: ignored
    *spare = Finger{id, 1, true, 0, 0};
    return spare;
}

void EventPump::cancelTouches(Listener& listener) {
    if (mouseDown_) {
        mouseDown_ = false;
        listener.touch({TouchEvent::Phase::Ended, mouseX_, mouseY_, mouseClicks_});
    }
    for (Finger& f : fingers_) {
        if (!f.down) continue;
        f.down = false;
        listener.touch({TouchEvent::Phase::Ended, f.x, f.y, f.tapCount});
    }
}

void EventPump::handle(SDL_Event const& event, Listener& listener) {
    switch (event.type) {
        case SDL_QUIT:
            quit_ = true;
            break;
        case SDL_WINDOWEVENT:
            // A touch whose release goes to another window would otherwise never end.
            if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) cancelTouches(listener);
            break;
        case SDL_MOUSEBUTTONDOWN:
            if (event.button.which == SDL_TOUCH_MOUSEID || event.button.button != SDL_BUTTON_LEFT) break;
            mouseDown_ = true;
            mouseClicks_ = event.button.clicks ? event.button.clicks : 1;
            mouseX_ = float(event.button.x);
            mouseY_ = float(event.button.y);
            listener.touch({TouchEvent::Phase::Began, mouseX_, mouseY_, mouseClicks_});
            break;
        case SDL_MOUSEMOTION:
            if (event.motion.which == SDL_TOUCH_MOUSEID || !mouseDown_) break;
            mouseX_ = float(event.motion.x);
            mouseY_ = float(event.motion.y);
            listener.touch({TouchEvent::Phase::Moved, mouseX_, mouseY_, mouseClicks_});
            break;
        case SDL_MOUSEBUTTONUP:
            if (event.button.which == SDL_TOUCH_MOUSEID || event.button.button != SDL_BUTTON_LEFT || !mouseDown_)
                break;
            mouseDown_ = false;
            listener.touch({TouchEvent::Phase::Ended, float(event.button.x), float(event.button.y), mouseClicks_});
            break;
        case SDL_FINGERDOWN: {
            float x = event.tfinger.x * viewWidth_, y = event.tfinger.y * viewHeight_;
            Finger* f = finger(event.tfinger.fingerId, true);
            if (!f) break;
            bool again = event.tfinger.timestamp - lastTapTime_ <= multiTapMs &&
                         std::hypot(x - lastTapX_, y - lastTapY_) <= multiTapPoints;
            f->tapCount = again ? lastTapCount_ + 1 : 1;
            f->x = x;
            f->y = y;
            lastTapTime_ = event.tfinger.timestamp;
            lastTapX_ = x;
            lastTapY_ = y;
            lastTapCount_ = f->tapCount;
            listener.touch({TouchEvent::Phase::Began, x, y, f->tapCount});
            break;
        }
        case SDL_FINGERMOTION: {
            Finger* f = finger(event.tfinger.fingerId, false);
            if (!f) break;
            f->x = event.tfinger.x * viewWidth_;
            f->y = event.tfinger.y * viewHeight_;
            listener.touch({TouchEvent::Phase::Moved, f->x, f->y, f->tapCount});
            break;
        }
        case SDL_FINGERUP: {
            Finger* f = finger(event.tfinger.fingerId, false);
            if (!f) break;
            f->down = false;
            listener.touch({TouchEvent::Phase::Ended, event.tfinger.x * viewWidth_, event.tfinger.y * viewHeight_,
                            f->tapCount});
            break;
        }
        default:
            break;
    }
}

}  // namespace platform
