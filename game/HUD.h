#pragma once
// The heads-up layer over the game: the pause button at the top left and the control scheme's
// controls, each with its own fading alpha. It owns the screen matrix the overlays draw with.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

#include <string>

#include "graphics/Sprite.h"

class ControlScheme;
namespace Fonts {
class Context;
}

class HUD {
public:
    HUD(Graphics::Context* graphics, Fonts::Context* fonts, bool showPauseButton);

    void update(float dt);
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, ControlScheme* scheme);
    void setHidden(bool hidden) { hidden_ = hidden; }
    bool isHidden() const { return hidden_; }
    glm::vec2 pauseButtonCentre() const { return pauseButton_.quad().center(); }
    glm::mat4 const& matrix() const { return matrix_; }
    void hidePauseButton() { pauseFade_ = -0.0025f; }
    void showPauseButton() { pauseFade_ = 0.0025f; }
    void fadeOut() { controlsFade_ = -1.0f; }
    void fadeIn() { controlsFade_ = 1.0f; }
    bool isFadedOut() const { return controlsAlpha_ == 0.0f; }
    float pauseAlpha() const { return pauseAlpha_; }
    float controlsAlpha() const { return controlsAlpha_; }

private:
    Sprite pauseButton_;
    glm::mat4 matrix_;
    float pauseAlpha_ = 1.0f;
    // The pause rate carries its speed; the controls rate is a direction scaled in update.
    float pauseFade_;
    float controlsFade_ = 1.0f;
    float controlsAlpha_ = 1.0f;
    bool hidden_ = false;
};
