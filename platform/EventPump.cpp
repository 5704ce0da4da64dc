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
    *spare = Finger{id, 1, true};
    return spare;
}

void EventPump::handle(SDL_Event const& event, Listener& listener) {
    switch (event.type) {
        case SDL_QUIT:
            quit_ = true;
            break;
        case SDL_MOUSEBUTTONDOWN:
            if (event.button.which == SDL_TOUCH_MOUSEID || event.button.button != SDL_BUTTON_LEFT) break;
            mouseDown_ = true;
            mouseClicks_ = event.button.clicks ? event.button.clicks : 1;
            listener.touch({TouchEvent::Phase::Began, float(event.button.x), float(event.button.y), mouseClicks_});
            break;
        case SDL_MOUSEMOTION:
            if (event.motion.which == SDL_TOUCH_MOUSEID || !mouseDown_) break;
            listener.touch({TouchEvent::Phase::Moved, float(event.motion.x), float(event.motion.y), mouseClicks_});
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
            listener.touch({TouchEvent::Phase::Moved, event.tfinger.x * viewWidth_, event.tfinger.y * viewHeight_,
                            f->tapCount});
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
