#include "menus/RatingPromptViewController.h"

#include <algorithm>

#include "fonts/Context.h"
#include "fonts/Layout.h"
#include "os/Assets.h"

namespace {

glm::vec4 const kTitleColour(1.0f, 1.0f, 1.0f, 1.0f);
glm::vec4 const kTextColour(0.90f, 0.91f, 0.93f, 1.0f);

float const kTextWidth = 740.0f;
float const kTitleY = 108.0f;
float const kMessageY = 48.0f;
float const kButtonY = -88.0f;
float const kButtonStep = 250.0f;
// The answer image is 200 wide: labels keep within it.
float const kLabelWidth = 184.0f;

float textWidth(Fonts::Font font, std::string const& text) {
    return TextLabel(text, glm::vec2(0.0f), font, Fonts::alignCentre, 1.0f).width();
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

}  // namespace

RatingPromptViewController::RatingPromptViewController(Graphics::Context* graphics, Audio::Context* audio,
                                                       Fonts::Context* fonts, Texts const& texts,
                                                       std::function<void(int)> onChoice)
    : DimmedPanelViewController(
          graphics, audio, glm::vec2(kPanelWidth, kPanelHeight),
          [&] {
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
          }(),
          // The last answer has the focus: rate later when offered, which decides nothing.
          texts.later ? 2 : 1, "RatingPrompt", std::move(onChoice)) {
    Fonts::Font const header = fonts->font(Fonts::FontStyle::boardsHeader);
    Fonts::Font const body = fonts->font(Fonts::FontStyle::boardsText);
    // A title longer than the panel is drawn smaller.
    addLabel(TextLabel(texts.title, glm::vec2(0.0f, kTitleY), header, Fonts::alignCentre, 1.0f), kTitleColour,
             kTextWidth);
    addLabel(TextLabel(TextLabel::wrap(texts.message, body, kTextWidth), glm::vec2(0.0f, kMessageY), body, Fonts::alignCentre,
                       1.0f),
             kTextColour);
}
