#pragma once
// The card that slides down over the dimmed picture while a catalog level loads: a panel, a
// turning gear flip-book and the level's name. The level loader owns and drives it.
#include <glm/mat4x4.hpp>

#include <cstdint>
#include <string>

#include "audio/Sound.h"
#include "fonts/TextMesh.h"
#include "graphics/ImageSequence.h"
#include "graphics/SlideTransition.h"
#include "graphics/Sprite.h"

namespace Audio {
class Context;
}
namespace Fonts {
class Context;
}

class LevelLoadingScreen {
public:
    enum : uint32_t { kHidden = 0, kSliding = 1, kShown = 2 };

    LevelLoadingScreen(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                       std::string const& levelNameKey);

    void show();
    // The cog-wheel loop; it ends when the card is destroyed.
    void playSound();
    void update(float dt);
    bool isShown() const { return state_ == kShown; }
    void preDraw();
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader);

    uint32_t state() const { return state_; }
    float progress() const { return t_; }
    // How far the card is shifted up: the screen height when hidden, 0 when in place.
    float offset() const { return value_; }
    ImageSequence const& gear() const { return gear_; }
    Sprite const& background() const { return background_; }
    bool isSoundPlaying() const { return loop_.isPlaying(); }

private:
    glm::mat4 projection_;
    Sound loop_;
    ImageSequence gear_;
    Fonts::TextMesh name_;
    Sprite background_;
    SlideTransition slide_;
    uint32_t state_ = kHidden;
    float t_ = 0.0f;
    float value_ = 0.0f;
};
