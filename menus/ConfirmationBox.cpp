#include "menus/ConfirmationBox.h"

#include <GLES2/gl2.h>

#include <algorithm>
#include <vector>

#include "fonts/Context.h"
#include "fonts/LabelStyles.h"
#include "fonts/Layout.h"
#include "graphics/Context.h"
#include "graphics/DrawRecord.h"
#include "graphics/StandardShader.h"
#include "os/Assets.h"
#include "os/ViewController.h"

namespace {

// The message sits higher the more lines it has.
float messageY(std::string const& text) {
    switch (std::count(text.begin(), text.end(), '\n')) {
    case 1: return 50.0f;
    case 2: return 70.0f;
    case 3: return 90.0f;
    default: return 35.0f;
    }
}

// The message in lines that keep clear of the panel's frame (a margin of 50 each side).
std::string fitted(Fonts::Font const& font, std::string const& message, float panelWidth) {
    return panelWidth > 100.0f ? TextLabel::wrap(message, font, panelWidth - 100.0f) : message;
}

glm::vec2 screenCentre() { return glm::vec2(virtualWidth(), virtualHeight()) / 2.0f; }

std::vector<FocusNavigator::Node> focusNodes(AnimatedButton& affirmative, boost::optional<AnimatedButton>& negative) {
    if (!negative) return {FocusNavigator::Node(&affirmative.button(), boost::none, boost::none, boost::none, boost::none)};
    return {FocusNavigator::Node(&affirmative.button(), 1u, 1u, boost::none, boost::none),
            FocusNavigator::Node(&negative->button(), 0u, 0u, boost::none, boost::none)};
}

}  // namespace

AnimatedButton ConfirmationBox::answerButton(Graphics::Context* graphics, Audio::Context* audio,
                                             Fonts::Context* fonts, glm::vec2 const& position,
                                             std::string const& text, std::function<bool()> action) {
    boost::optional<SoundDescriptor const&> const click(Assets::sndDravoMenuButtonGeneral);
    boost::optional<TextureDescriptor const&> const base(Assets::texMenusButtonsConfirmationNormal);
    glm::vec3 const labelPosition(0.0f, -10.0f, 0.0f);
    Button::Parameters const p{Assets::hitMenusButtonsConfirmation,
                               click,
                               base,
                               Assets::texMenusButtonsConfirmationHighlight,
                               fonts->font(Fonts::FontStyle::popupButton),
                               text,
                               std::move(action),
                               labelPosition,
                               0,
                               0};
    return AnimatedButton(graphics, audio, position, p);
}

ConfirmationBox::ConfirmationBox(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                 Parameters const& p)
    : onAffirmative_(p.onAffirmative),
      onNegative_(p.onNegative),
      openSound_(audio, Assets::sndDravoMenuButtonPopup),
      panel_(Sprite(Graphics::Texture(graphics, Assets::texMenusConfirmationboxBackground), kAnchorOrigin, p.offset,
                    std::nullopt, glm::vec2(1.0f)),
             PopInTransform(kAnchorCenter, glm::vec2(0.0f), glm::vec2(0.0f))),
      backdropQuad_(glm::vec2(0.0f), glm::vec2(virtualWidth(), virtualHeight()), glm::vec2(1.0f)),
      backdropTexture_(graphics, Assets::texColorsBlack),
      message_(fitted(fonts->font(Fonts::FontStyle::regularMenu), p.message, panel_.sprite().texture().width()),
               glm::vec2(0.0f, 0.0f), fonts->font(Fonts::FontStyle::regularMenu), Fonts::alignCentre, 1.0f),
      negativeButton_(p.negative ? boost::optional<AnimatedButton>(ConfirmationBox::answerButton(
                                       graphics, audio, fonts, screenCentre() + p.offset + glm::vec2(150.0f, -175.0f),
                                       *p.negative,
                                       [this] {
                                           if (onNegative_) onNegative_();
                                           state_ = kClosingNegative;
                                           negativeButton_->popIn().animation().dismiss();
                                           return true;
                                       }))
                                 : boost::none),
      affirmativeButton_(ConfirmationBox::answerButton(graphics, audio, fonts,
                                      screenCentre() + p.offset + glm::vec2(p.negative ? -150.0f : 0.0f, -175.0f),
                                      p.affirmative,
                                      [this] {
                                          // It does not close the box; the answer or the owner does.
                                          if (onAffirmative_) onAffirmative_();
                                          return true;
                                      })),
      focus_(audio, focusNodes(affirmativeButton_, negativeButton_), defaultAnswer(), true),
      dimBackground_(p.dimBackground ? 1 : 0) {
    message_.position.y = messageY(message_.text());
    drawEmbossedLabel(messageMesh_, message_);
}

void ConfirmationBox::show() {
    state_ = kWaitingForTextures;
    focus_.reset(defaultAnswer());
}

void ConfirmationBox::close() {
    state_ = kClosingNegative;
    if (negativeButton_) negativeButton_->popIn().animation().dismiss();
}

bool ConfirmationBox::isReady() const {
    return backdropTexture_.isReady() && affirmativeButton_.button().isReady() && panel_.sprite().isReady();
}

bool ConfirmationBox::negativeShownAndReady() const {
    return !negativeButton_ || (negativeButton_->popIn().animation().isShown() && negativeButton_->button().isReady());
}

void ConfirmationBox::update(float dt) {
    switch (state_) {
    case kWaitingForTextures:
        if (panel_.sprite().isReady() && backdropTexture_.isReady()) {
            openSound_.play();
            panel_.popIn().animation().start();
            state_ = kPanelPopping;
        }
        break;
    case kPanelPopping:
        timer_ += dt;
        if (timer_ >= 200.0f) {
            state_ = kAffirmativePopping;
            affirmativeButton_.popIn().animation().start();
            timer_ = 0.0f;
        }
        panel_.update(dt);
        break;
    case kAffirmativePopping:
        timer_ += dt;
        if (timer_ >= 100.0f && affirmativeButton_.button().isReady()) {
            state_ = kSettling;
            if (negativeButton_) negativeButton_->popIn().animation().start();
            timer_ = 0.0f;
        }
        panel_.update(dt);
        affirmativeButton_.update(dt);
        break;
    case kSettling:
        panel_.update(dt);
        affirmativeButton_.update(dt);
        if (negativeButton_) negativeButton_->update(dt);
        if (panel_.popIn().animation().isShown() && affirmativeButton_.popIn().animation().isShown() &&
            negativeShownAndReady()) {
            state_ = kInteractive;
            logScreen("ConfirmationBox");
        }
        break;
    case kInteractive:
        focus_.updateHighlight();
        if (negativeButton_) negativeButton_->update(dt);
        affirmativeButton_.update(dt);
        panel_.update(dt);
        break;
    case kClosingNegative:
        timer_ += dt;
        if (timer_ >= 100.0f) {
            state_ = kClosingAffirmative;
            affirmativeButton_.popIn().animation().dismiss();
            timer_ = 0.0f;
        }
        if (negativeButton_) negativeButton_->update(dt);
        break;
    case kClosingAffirmative:
        timer_ += dt;
        if (timer_ >= 100.0f) {
            state_ = kClosingPanel;
            panel_.popIn().animation().dismiss();
            timer_ = 0.0f;
        }
        if (negativeButton_) negativeButton_->update(dt);
        affirmativeButton_.update(dt);
        break;
    case kClosingPanel:
        if (panel_.popIn().animation().isHidden() && affirmativeButton_.popIn().animation().isHidden() &&
            (!negativeButton_ || negativeButton_->popIn().animation().isHidden())) {
            state_ = kHidden;
            affirmativeButton_.button().reset();
            if (negativeButton_) negativeButton_->button().reset();
        }
        if (negativeButton_) negativeButton_->update(dt);
        affirmativeButton_.update(dt);
        panel_.update(dt);
        break;
    default:
        break;
    }
}

void ConfirmationBox::preDraw() {
    if (state_ == kHidden) return;
    panel_.preDraw();
    affirmativeButton_.preDraw();
    if (negativeButton_) negativeButton_->preDraw();
    glm::mat4 const& a = affirmativeButton_.popIn().matrix();
    glm::mat4 const& n = negativeButton_ ? negativeButton_->popIn().matrix() : labelMatrices_[1];
    if (labelsLaidOut_ && a == labelMatrices_[0] && n == labelMatrices_[1]) return;
    labelMesh_.clear();
    affirmativeButton_.drawLabel(labelMesh_);
    if (negativeButton_) negativeButton_->drawLabel(labelMesh_);
    labelMatrices_[0] = a;
    labelMatrices_[1] = n;
    labelsLaidOut_ = true;
}

void ConfirmationBox::draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) {
    if (state_ == kHidden) return;
    graphics->setBlend(true);
    if (dimBackground_) {
        // Half dark once the panel is up, lightening again as it shrinks.
        float const a = std::min(std::max(panel_.popIn().animation().value(), 0.0f), 1.0f) * 0.5f;
        shader->use(Graphics::StandardShader::kColor);
        shader->setPVM(projection);
        shader->setColor(glm::vec4(a));
        backdropTexture_.bind(GL_TEXTURE0);
        backdropQuad_.draw(*shader);
        if (a >= 0.25f) Graphics::DrawRecord::cover();
    }
    shader->use(Graphics::StandardShader::kColor);
    shader->setColor(glm::vec4(1.0f));
    shader->setPVM(projection);
    panel_.draw(shader);
    if (Graphics::DrawRecord::on() && panel_.popIn().animation().isShown()) {
        // The parchment's wooden frame is 10 wide.
        Graphics::DrawRecord::panel(panel_.quad().lowest() + 10.0f, panel_.quad().highest() - 10.0f, projection);
    }
    affirmativeButton_.draw(shader);
    if (negativeButton_) negativeButton_->draw(shader);
    // The message scales with the panel about the screen centre.
    shader->use(Graphics::StandardShader::kAmbient);
    shader->setPVM(projection * panel_.popIn().matrix());
    messageMesh_.draw(graphics, shader, boost::none);
    shader->setPVM(projection);
    labelMesh_.draw(graphics, shader, boost::none);
}

void ConfirmationBox::touchBegan(glm::vec2 const& point, unsigned touch) {
    if (state_ != kInteractive) return;
    affirmativeButton_.touchBegan(point, touch);
    if (negativeButton_) negativeButton_->touchBegan(point, touch);
}

void ConfirmationBox::touchMoved(glm::vec2 const& point, unsigned touch) {
    if (state_ != kInteractive) return;
    affirmativeButton_.touchMoved(point, touch);
    if (negativeButton_) negativeButton_->touchMoved(point, touch);
}

void ConfirmationBox::touchEnded(glm::vec2 const& point, unsigned touch) {
    if (state_ != kInteractive) return;
    affirmativeButton_.touchEnded(point, touch);
    // The affirmative answer may have closed the box.
    if (state_ == kInteractive && negativeButton_) negativeButton_->touchEnded(point, touch);
}

void ConfirmationBox::gamepadInput(GamepadState const& s) {
    if (state_ != kInteractive) return;
    bool const affirmativeBefore = affirmativeButton_.button().isActivated();
    bool const negativeBefore = negativeButton_ && negativeButton_->button().isActivated();
    focus_.gamepadInput(s);
    if (!affirmativeBefore && affirmativeButton_.button().isActivated()) affirmativeButton_.popIn().animation().dismiss();
    if (negativeButton_ && !negativeBefore && negativeButton_->button().isActivated())
        negativeButton_->popIn().animation().dismiss();
}

void ConfirmationBox::buttonPressed(unsigned code) {
    if (code != ViewController::buttonPause || state_ != kInteractive) return;
    AnimatedButton& target = negativeButton_ ? *negativeButton_ : affirmativeButton_;
    target.popIn().animation().dismiss();
    target.button().activate();
}
