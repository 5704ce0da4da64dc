#pragma once
// A sliding sprite whose label pops in once the slide has passed a threshold.
#include <cstdint>

#include "menus/PopInLabel.h"
#include "menus/UVSlideSprite.h"

class UVSlideLabel {
public:
    enum State : uint32_t { kIdle = 0, kSliding = 1, kLabelPopping = 2, kDone = 3 };

    UVSlideLabel(PopInLabel&& label, UVSlideSprite&& slide, float threshold);

    void start();
    void update(float dt);
    // The slide only; the owner lays the label out.
    void draw(Graphics::StandardShader* shader) const { slide_.draw(shader); }
    void preDraw() { slide_.preDraw(); }
    float progress() const { return slide_.progress(); }
    PopInLabel& label() { return label_; }
    UVSlideSprite& slide() { return slide_; }
    uint32_t state() const { return state_; }

private:
    PopInLabel label_;
    UVSlideSprite slide_;
    uint32_t state_ = kIdle;
    float threshold_;
};
