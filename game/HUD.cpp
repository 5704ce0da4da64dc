#include "game/HUD.h"

#include <algorithm>

#include "game/ControlScheme.h"
#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "os/Assets.h"

HUD::HUD(Graphics::Context* graphics, Fonts::Context*, bool showPauseButton)
    : pauseButton_(Graphics::Texture(graphics, Assets::texHudHudButtonPause), kAnchorTopLeft, glm::vec2(10.0f, 0.0f),
                   std::nullopt, glm::vec2(1.0f, 1.0f)),
      matrix_(screenProjection()),
      // The first update snaps the button fully in or out.
      pauseFade_(showPauseButton ? 1.0f : -1.0f) {}

void HUD::update(float dt) {
    pauseAlpha_ = std::clamp(pauseAlpha_ + pauseFade_ * dt, 0.0f, 1.0f);
    controlsAlpha_ = std::clamp(controlsAlpha_ + controlsFade_ * 0.0025f * dt, 0.0f, 1.0f);
}

void HUD::draw(Graphics::Context* graphics, Graphics::StandardShader* shader, ControlScheme* scheme) {
    if (hidden_) return;
    if (pauseAlpha_ > 0.0f && graphics != nullptr && shader != nullptr) {
        graphics->setBlend(true);
        shader->use(1);
        shader->setPVM(matrix_);
        shader->setColor(glm::vec4(pauseAlpha_));
        pauseButton_.draw(*shader);
    }
    if (scheme != nullptr) scheme->draw(graphics, shader, matrix_, controlsAlpha_);
}
