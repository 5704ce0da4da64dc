#include "menus/OptionsMenu.h"

#include <algorithm>

#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "menus/SineRamp.h"
#include "os/Assets.h"
#include "os/ViewController.h"

namespace {

glm::vec2 screenCentre() { return glm::vec2(virtualWidth(), virtualHeight()) / 2.0f; }

Button::Parameters backParameters(std::function<bool()> action) {
    static boost::optional<SoundDescriptor const&> const click(Assets::sndDravoMenuButtonGeneral);
    static boost::optional<TextureDescriptor const&> const base(Assets::texMenusButtonsPilleftNormal);
    static glm::vec3 const labelPosition(0.0f);
    return Button::Parameters{Assets::hitMenusButtonsPilleft, click, base, Assets::texMenusButtonsPilleftLit,
                              boost::none, boost::none, std::move(action), labelPosition, 0, 0};
}

}  // namespace

OptionsMenu::OptionsMenu(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                         std::function<void()> const& onClose)
    : graphics_(graphics),
      fonts_(fonts),
      slideInSound_(audio, Assets::sndDravoMenuSlideIn),
      slideOutSound_(audio, Assets::sndDravoMenuSlideOut),
      onClose_(onClose),
      background_(Graphics::Texture(graphics, Assets::texMenusBackgroundsWoodplate), kAnchorCenter,
                  glm::vec2(7.0f, 16.0f), std::nullopt, glm::vec2(1.0f)),
      back_(graphics, audio, screenCentre() + glm::vec2(-425.0f, 250.0f), backParameters([this] { return goBack(); })),
      slide_(slideTransition(2, false)),
      panel_(graphics, audio, fonts, 7, screenCentre(), screenCentre()) {}

void OptionsMenu::reset() {
    if (state_ != Idle && state_ != Closed) return;
    slide_ = slideTransition(2, false);
    slideProgress_ = 0.0f;
    slidePhase_ = 0;
    back_.button().reset();
    state_ = Idle;
}

void OptionsMenu::open() {
    state_ = SlidingIn;
    slideProgress_ = 0.0f;
    slidePhase_ = 1;
    slideInSound_.play();
}

bool OptionsMenu::isReady() const {
    return background_.isReady() && back_.button().isReady() && panel_.isReady();
}

bool OptionsMenu::goBack() {
    if (state_ != Active) return false;
    state_ = Leaving;
    pendingClose_ = &onClose_;
    slide_ = slideTransition(1, false);
    slideProgress_ = 0.0f;
    slidePhase_ = 0;
    return true;
}

void OptionsMenu::slideStep(float dt) {
    if (slidePhase_ != 1) return;
    if (slideProgress_ >= 1.0f) slidePhase_ = 2;
    slideProgress_ = std::clamp(slideProgress_ + slide_.rate * dt, 0.0f, 1.0f);
}

void OptionsMenu::update(float dt) {
    switch (state_) {
    case SlidingIn:
        if (slidePhase_ == 2) {
            back_.popIn().animation().start();
            state_ = ButtonPopIn;
        } else {
            slideStep(dt);
        }
        break;
    case ButtonPopIn:
        if (back_.popIn().animation().isShown()) {
            state_ = Active;
            logScreen("OptionsMenu");
        }
        back_.update(dt);
        break;
    case Active:
        back_.update(dt);
        panel_.update(dt);
        break;
    case Leaving:
        leaveTimer_ += dt;
        if (leaveTimer_ > 150.0f) {
            back_.popIn().animation().dismiss();
            slideProgress_ = 0.0f;
            slidePhase_ = 1;
            slideOutSound_.play();
            leaveTimer_ = 0.0f;
            state_ = SlidingOut;
        }
        back_.update(dt);
        break;
    case SlidingOut:
        if (back_.popIn().animation().isHidden() && slidePhase_ == 2) state_ = Closed;
        back_.update(dt);
        slideStep(dt);
        break;
    case Closed:
        if (pendingClose_) {
            auto const* close = pendingClose_;
            pendingClose_ = nullptr;
            (*close)();
        }
        break;
    default:
        break;
    }
}

void OptionsMenu::preDraw() {
    back_.preDraw();
    text_.clear();
    panel_.drawText(text_);
    slide_.current = slide_.x + (slide_.y - slide_.x) * sineRamp(slideProgress_, slide_.firstThreshold, slide_.secondThreshold);
}

void OptionsMenu::draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) {
    if (state_ == Idle) return;
    graphics->setBlend(true);
    glm::mat4 m = projection;
    m[3] += m[0] * slide_.current;
    shader->use(Graphics::StandardShader::kColor);
    shader->setColor(glm::vec4(1.0f));
    shader->setPVM(projection);
    back_.draw(shader);
    shader->setPVM(m);
    background_.draw(*shader);
    panel_.draw(graphics, shader, m);
    shader->use(Graphics::StandardShader::kAmbient);
    shader->setPVM(m);
    text_.draw(graphics, shader, boost::none);
    shader->use(Graphics::StandardShader::kColor);
    shader->setColor(glm::vec4(1.0f));
    shader->setPVM(m);
}

void OptionsMenu::touchBegan(glm::vec2 const& point, unsigned touch) {
    if (state_ != Active) return;
    back_.button().touchBegan(point, touch);
    panel_.touchBegan(point, touch);
}

void OptionsMenu::touchMoved(glm::vec2 const& point, unsigned touch) {
    if (state_ != Active) return;
    back_.button().touchMoved(point, touch);
    panel_.touchMoved(point, touch);
}

void OptionsMenu::touchEnded(glm::vec2 const& point, unsigned touch) {
    if (state_ != Active) return;
    back_.touchEnded(point, touch);
    panel_.touchEnded(point, touch);
}

void OptionsMenu::gamepadInput(GamepadState const& state) {
    if (!inputTaker()) return;
    if (state.buttonB) {
        back_.button().activate();
        return;
    }
    panel_.gamepadInput(state);
}

void OptionsMenu::buttonPressed(unsigned code) {
    if (code == ViewController::buttonPause) goBack();
}
