#include "menus/PopInBurstSprite.h"

#include <limits>

// finish() steps with the largest float: speeds times it overflow to infinity and clamp back,
// which fast-math does not promise.
#ifdef __FAST_MATH__
#error "the menu tweens need IEEE infinities; build without -ffast-math"
#endif

PopInBurstSprite::PopInBurstSprite(PopInSprite const& badge, ExpandingSprite const& burst)
    : badge_(badge), burst_(burst) {}

void PopInBurstSprite::start() {
    badge_.popIn().animation().start();
    burst_.start();
    state_ = kRunning;
}

void PopInBurstSprite::update(float dt) {
    bool const running = state_ == kRunning;
    if (running && badge_.popIn().animation().isShown() && burst_.isFinished()) state_ = kDone;
    if (running) {
        badge_.update(dt);
        burst_.update(dt);
    }
}

void PopInBurstSprite::finish() {
    float const forever = std::numeric_limits<float>::max();
    update(forever);
    if (state_ == kRunning) update(forever);
}

void PopInBurstSprite::preDraw() {
    badge_.preDraw();
    burst_.preDraw();
}
