#include "menus/RatingPromptViewController.h"

#include <GLES2/gl2.h>
#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <sstream>

#include "fonts/Context.h"
#include "fonts/Layout.h"
#include "graphics/Context.h"
#include "graphics/DrawRecord.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/StandardShader.h"
#include "os/Assets.h"

namespace {

// Light text on a dark, opaque panel, as on the boards.
glm::vec4 const kPanelColour(0.10f, 0.12f, 0.16f, 1.0f);
glm::vec4 const kTitleColour(1.0f, 1.0f, 1.0f, 1.0f);
glm::vec4 const kTextColour(0.90f, 0.91f, 0.93f, 1.0f);
glm::vec4 const kButtonTint(0.6f, 0.6f, 0.6f, 1.0f);
float const kBackdropAlpha = 0.5f;

float const kMargin = 20.0f;
float const kTextWidth = 740.0f;
float const kTitleY = 108.0f;
float const kMessageY = 48.0f;
float const kButtonY = -88.0f;
float const kButtonStep = 250.0f;
// The answer image is 200 wide: labels keep within it.
float const kLabelWidth = 184.0f;

float textWidth(Fonts::Font font, std::string const& text) {
    Fonts::TextMesh mesh;
    TextLabel(text, glm::vec2(0.0f), font, Fonts::alignCentre, 1.0f).draw(mesh, glm::vec2(0.0f), glm::vec4(1.0f),
                                                                           glm::mat4(1.0f));
    return mesh.empty() ? 0.0f : mesh.bounds().getWidth();
}

// The largest answer font in which every answer fits its button.
Fonts::Font answerFont(Fonts::Context& fonts, std::vector<std::string> const& answers) {
    Fonts::FontStyle const styles[] = {Fonts::FontStyle::popupButton, Fonts::FontStyle::regularMenuBold,
                                       Fonts::FontStyle::boardsText};
    for (Fonts::FontStyle style : styles) {
        Fonts::Font const font = fonts.font(style);
        if (std::all_of(answers.begin(), answers.end(),
                        [&](std::string const& a) { return textWidth(font, a) <= kLabelWidth; }))
            return font;
    }
    return fonts.font(Fonts::FontStyle::boardsText);
}

std::vector<std::string> answerTexts(RatingPromptViewController::Texts const& t) {
    std::vector<std::string> answers{t.cancel, t.rate};
    if (t.later) answers.push_back(*t.later);
    return answers;
}

std::vector<FocusNavigator::Node> focusNodes(std::vector<AnimatedButton>& answers) {
    std::vector<FocusNavigator::Node> nodes;
    for (size_t i = 0; i < answers.size(); ++i) {
        nodes.emplace_back(&answers[i].button(), boost::make_optional(i > 0, uint64_t(i - 1)),
                           boost::make_optional(i + 1 < answers.size(), uint64_t(i + 1)), boost::none, boost::none);
    }
    return nodes;
}

}  // namespace

std::string RatingPromptViewController::wrap(std::string const& text, Fonts::Font font, float maxWidth) {
    std::istringstream words(text);
    std::string out, line, word;
    while (words >> word) {
        std::string const longer = line.empty() ? word : line + " " + word;
        if (!line.empty() && textWidth(font, longer) > maxWidth) {
            out += (out.empty() ? "" : "\n") + line;
            line = word;
        } else {
            line = longer;
        }
    }
    if (!line.empty()) out += (out.empty() ? "" : "\n") + line;
    return out;
}

RatingPromptViewController::RatingPromptViewController(Graphics::Context* graphics, Audio::Context* audio,
                                                       Fonts::Context* fonts, Texts const& texts,
                                                       std::function<void(int)> onChoice)
    : onChoice_(std::move(onChoice)),
      projection_(screenProjection()),
      white_(graphics, Assets::texColorsWhite),
      backdrop_(glm::vec2(0.0f), glm::vec2(virtualWidth(), virtualHeight()), glm::vec2(1.0f)),
      panel_(glm::vec2(-kPanelWidth / 2.0f, -kPanelHeight / 2.0f), glm::vec2(kPanelWidth, kPanelHeight),
             glm::vec2(1.0f)),
      answers_([&] {
          std::vector<std::string> const words = answerTexts(texts);
          Fonts::Font const font = answerFont(*fonts, words);
          std::vector<AnimatedButton> answers;
          answers.reserve(words.size());
          float const first = -kButtonStep * float(words.size() - 1) / 2.0f;
          for (size_t i = 0; i < words.size(); ++i) {
              boost::optional<SoundDescriptor const&> const click(Assets::sndDravoMenuButtonGeneral);
              boost::optional<TextureDescriptor const&> const base(Assets::texMenusButtonsConfirmationNormal);
              glm::vec3 const labelPosition(0.0f, -8.0f, 0.0f);
              int const index = int(i);
              Button::Parameters const p{Assets::hitMenusButtonsConfirmation,
                                         click,
                                         base,
                                         Assets::texMenusButtonsConfirmationHighlight,
                                         font,
                                         words[i],
                                         [this, index] {
                                             choose(index);
                                             return true;
                                         },
                                         labelPosition,
                                         0,
                                         0};
              answers.emplace_back(graphics, audio, glm::vec2(first + kButtonStep * float(i), kButtonY), p);
          }
          return answers;
      }()),
      // The last answer has the focus: rate later when offered, which decides nothing.
      focus_(audio, focusNodes(answers_), answers_.size() - 1, true) {
    float const w = virtualWidth(), h = virtualHeight();
    float const scale = std::min({1.0f, (w - 2.0f * kMargin) / kPanelWidth, (h - 2.0f * kMargin) / kPanelHeight});
    layout_ = glm::scale(glm::translate(glm::mat4(1.0f), glm::vec3(w / 2.0f, h / 2.0f, 0.0f)),
                         glm::vec3(scale, scale, 1.0f));

    Fonts::Font const header = fonts->font(Fonts::FontStyle::boardsHeader);
    Fonts::Font const body = fonts->font(Fonts::FontStyle::boardsText);
    labels_.emplace_back(texts.title, glm::vec2(0.0f, kTitleY), header, Fonts::alignCentre, 1.0f);
    colours_.push_back(kTitleColour);
    labels_.emplace_back(wrap(texts.message, body, kTextWidth), glm::vec2(0.0f, kMessageY), body, Fonts::alignCentre,
                         1.0f);
    colours_.push_back(kTextColour);
    // A title longer than the panel is drawn smaller.
    float const titleWidth = textWidth(header, texts.title);
    if (titleWidth > kTextWidth) labels_[0].scale = kTextWidth / titleWidth;
}

void RatingPromptViewController::choose(int index) {
    if (done_) return;
    done_ = true;
    interactive_ = false;
    // The owner dismisses (and deletes) the view from here: nothing may follow this call.
    if (auto chosen = std::move(onChoice_)) chosen(index);
}

glm::vec2 RatingPromptViewController::toLayout(glm::vec2 const& point) const {
    glm::vec4 const p = glm::inverse(layout_) * glm::vec4(point, 0.0f, 1.0f);
    return {p.x, p.y};
}

void RatingPromptViewController::update(Audio::Context&, float dt, float) {
    if (done_) return;
    if (!interactive_) {
        bool ready = white_.isReady();
        for (auto const& a : answers_) ready = ready && a.button().isReady();
        if (!ready) return;
        interactive_ = true;
        for (auto& a : answers_) a.popIn().animation().start();
        logScreen("RatingPrompt");
    }
    focus_.updateHighlight();
    for (auto& a : answers_) a.update(dt);
}

void RatingPromptViewController::preDraw(Graphics::Context*) {
    if (!interactive_) return;
    buttonMesh_.clear();
    for (auto& a : answers_) {
        a.preDraw();
        a.drawLabel(buttonMesh_);
    }
    if (laidOut_) return;
    for (size_t i = 0; i < labels_.size(); ++i) labels_[i].draw(textMesh_, glm::vec2(0.0f), colours_[i], glm::mat4(1.0f));
    laidOut_ = true;
}

void RatingPromptViewController::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (!interactive_) return;
    graphics->setBlend(true);
    white_.bind(GL_TEXTURE0);
    shader->use(Graphics::StandardShader::kColor);
    shader->setPVM(projection_);
    shader->setColor(glm::vec4(0.0f, 0.0f, 0.0f, kBackdropAlpha));
    backdrop_.draw(*shader);
    // The screen behind is dimmed and takes no input while the question is up.
    Graphics::DrawRecord::cover();
    glm::mat4 const matrix = projection_ * layout_;
    shader->setPVM(matrix);
    shader->setColor(kPanelColour);
    panel_.draw(*shader);
    // The answers darkened under their white labels.
    shader->setColor(kButtonTint);
    for (auto const& a : answers_) a.draw(shader);
    shader->use(Graphics::StandardShader::kAmbient);
    shader->setPVM(matrix);
    textMesh_.draw(graphics, shader, boost::none);
    buttonMesh_.draw(graphics, shader, boost::none);
}

void RatingPromptViewController::touchBegan(glm::vec2 const& point, uint32_t tapCount) {
    if (!interactive_) return;
    for (auto& a : answers_) a.touchBegan(toLayout(point), tapCount);
}

void RatingPromptViewController::touchMoved(glm::vec2 const& point, uint32_t tapCount) {
    if (!interactive_) return;
    for (auto& a : answers_) a.touchMoved(toLayout(point), tapCount);
}

void RatingPromptViewController::touchEnded(glm::vec2 const& point, uint32_t tapCount) {
    if (!interactive_) return;
    // An answer's touch may close the view: stop at the first that takes it.
    for (auto& a : answers_)
        if (a.touchEnded(toLayout(point), tapCount)) return;
}

void RatingPromptViewController::buttonPressed(uint32_t code) {
    if (interactive_ && code == buttonPause) choose(0);
}

void RatingPromptViewController::gamepadInput(GamepadState const& state) {
    if (!interactive_) return;
    if (state.buttonB) {
        choose(0);
        return;
    }
    focus_.gamepadInput(state);
}
