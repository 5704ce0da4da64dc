#include "menus/LevelLoadingScreen.h"

#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>

#include "fonts/Context.h"
#include "fonts/TextLabel.h"
#include "graphics/Context.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/StandardShader.h"
#include "menus/SineRamp.h"
#include "os/Assets.h"

namespace {

constexpr uint32_t kGearFrames = 30;
constexpr uint32_t kGearRate = 15;
constexpr float kSlideRate = 0.001f;  // per ms: one second from the top edge

}  // namespace

LevelLoadingScreen::LevelLoadingScreen(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                       std::string const& levelNameKey)
    : projection_(screenProjection()),
      loop_(audio, Assets::sndDravoMenuCogWheelLoadingLoop),
      gear_(graphics, Assets::texMenusLevelselectGear00000, kGearRate, kGearFrames, glm::vec2(-271.0f, 24.0f)),
      background_(Graphics::Texture(graphics, Assets::texMenusLevelselectLoadingBackground), kAnchorCenter,
                  glm::vec2(0.0f), std::nullopt, glm::vec2(1.0f)),
      slide_(slideTransition(4, true)) {
    value_ = slide_.x;
    TextLabel const label(fonts->localizedString(levelNameKey),
                          anchoredPosition(kAnchorCenter, nullptr) + glm::vec2(54.0f, -3.0f),
                          fonts->font(Fonts::FontStyle::mesquiteSmallHeader), 1, 1.0f);
    label.draw(name_, glm::vec2(0.0f), glm::vec4(0.25f, 0.2f, 0.2f, 1.0f), glm::mat4(1.0f));
}

void LevelLoadingScreen::show() {
    t_ = 0.0f;
    state_ = kSliding;
}

void LevelLoadingScreen::playSound() { loop_.play(); }

void LevelLoadingScreen::update(float dt) {
    if (state_ == kSliding) {
        // Shown one update after the slide arrives, so its last position is drawn once.
        if (t_ >= 1.0f) state_ = kShown;
        t_ = std::clamp(t_ + kSlideRate * dt, 0.0f, 1.0f);
    }
    // One frame per update whatever dt is: the gear turns even on zero-length frames.
    gear_.advance();
}

void LevelLoadingScreen::preDraw() {
    value_ = slide_.x + (slide_.y - slide_.x) * sineRamp(t_, slide_.firstThreshold, slide_.secondThreshold);
    gear_.selectFrame();
}

void LevelLoadingScreen::draw(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    graphics->setBlend(true);
    glm::mat4 const m = glm::translate(projection_, glm::vec3(0.0f, value_, 0.0f));
    shader->use(0);
    shader->setPVM(m);
    background_.draw(*shader);
    gear_.draw(*shader);
    shader->use(3);
    shader->setPVM(m);
    name_.draw(graphics, shader, boost::none);
}
