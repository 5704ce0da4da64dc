#pragma once
// A badge that pops in while a burst expands behind it.
#include <cstdint>

#include "menus/ExpandingSprite.h"
#include "menus/PopInSprite.h"

class PopInBurstSprite {
public:
    enum State : uint32_t { kIdle = 0, kRunning = 1, kDone = 2 };

    PopInBurstSprite(PopInSprite const& badge, ExpandingSprite const& burst);

    void start();
    void update(float dt);
    // Completes both animations at once (the widget reports done from its next update);
    // nothing before start.
    void finish();
    // The badge only; the owner draws the burst with its fade.
    void draw(Graphics::StandardShader* shader) const { badge_.draw(shader); }
    void preDraw();

    PopInSprite& badge() { return badge_; }
    ExpandingSprite& burst() { return burst_; }
    uint32_t state() const { return state_; }

private:
    PopInSprite badge_;
    ExpandingSprite burst_;
    uint32_t state_ = kIdle;
};
