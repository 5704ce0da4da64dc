#include "menus/AnimatedButton.h"

AnimatedButton::AnimatedButton(Graphics::Context* graphics, Audio::Context* audio, glm::vec2 const& position,
                               Button::Parameters const& parameters)
    : button_(graphics, audio, glm::vec2(0.0f), position, parameters),
      quad_(button_.quad()),
      popIn_(kAnchorNone, position, glm::vec2(0.0f)) {}

void AnimatedButton::draw(Graphics::StandardShader* shader) const {
    if (popIn_.animation().isIdle()) return;
    button_.drawWithQuad(shader, quad_);
}

void AnimatedButton::update(float dt) {
    popIn_.update(dt);
    button_.update(dt);
}

void AnimatedButton::preDraw() {
    quad_ = button_.quad();
    quad_.transform(popIn_.matrix());
}

bool AnimatedButton::touchEnded(glm::vec2 const& point, unsigned touch) {
    if (!button_.touchEnded(point, touch)) return false;
    popIn_.animation().dismiss();
    return true;
}
