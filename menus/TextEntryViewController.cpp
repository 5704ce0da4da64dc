#include "menus/TextEntryViewController.h"

#include <algorithm>

#include "fonts/Context.h"
#include "fonts/Layout.h"
#include "fonts/TextLabel.h"
#include "graphics/StandardShader.h"

namespace {

glm::vec4 const kTextColour(0.0f, 0.0f, 0.0f, 1.0f);
// Grey that still reads at 4.5:1 on the white field.
glm::vec4 const kPlaceholderColour(0.40f, 0.40f, 0.40f, 1.0f);
float const kTextMargin = 16.0f;

}  // namespace

std::string TextEntryViewController::tailThatFits(std::string const& text, Fonts::Font font, float width) {
    size_t from = 0;
    while (from < text.size() &&
           TextLabel(text.substr(from), glm::vec2(0.0f), font, Fonts::alignCentre, 1.0f).width() > width) {
        // The next character's first byte: continuation bytes are 10xxxxxx.
        ++from;
        while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) ++from;
    }
    return text.substr(from);
}

TextEntryViewController::TextEntryViewController(Graphics::Context* graphics, Audio::Context*, Fonts::Context* fonts,
                                                 std::shared_ptr<Field const> field, Taps taps)
    : field_(std::move(field)),
      taps_(std::move(taps)),
      font_(fonts->font(Fonts::FontStyle::popupButton)),
      // Centred across, a third of the way down.
      fieldCentre_(virtualWidth() / 2.0f, virtualHeight() * 2.0f / 3.0f),
      backdrop_(graphics),
      box_(fieldLow(), glm::vec2(kFieldWidth, kFieldHeight), glm::vec2(1.0f)) {}

bool TextEntryViewController::inField(glm::vec2 const& p) const {
    glm::vec2 const lo = fieldLow(), hi = fieldHigh();
    return field_->hasField && p.x >= lo.x && p.x <= hi.x && p.y >= lo.y && p.y <= hi.y;
}

void TextEntryViewController::update(Audio::Context&, float dt, float) {
    float const before = alpha_;
    alpha_ = std::clamp(alpha_ + (field_->shown ? dt : -dt) / kFadeMs, 0.0f, 1.0f);
    // The owner takes the view away from here: nothing may follow this call.
    if (before > 0.0f && alpha_ == 0.0f && !field_->shown && taps_.faded) taps_.faded();
}

void TextEntryViewController::preDraw(Graphics::Context*) {
    bool const placeholder = field_->text.empty();
    std::string const& shown = !field_->hasField ? std::string() : placeholder ? field_->placeholder : field_->text;
    if (laidOutOnce_ && shown == laidOut_ && placeholder == laidOutPlaceholder_) return;
    laidOut_ = shown;
    laidOutPlaceholder_ = placeholder;
    laidOutOnce_ = true;
    textMesh_.clear();
    if (shown.empty()) return;
    // What was typed last stays in sight, as the caret would keep it.
    std::string const fits = tailThatFits(shown, font_, kFieldWidth - 2.0f * kTextMargin);
    // The label's origin is its baseline: a little under the field's middle.
    TextLabel(fits, fieldCentre_ - glm::vec2(0.0f, 12.0f), font_, Fonts::alignCentre, 1.0f)
        .draw(textMesh_, glm::vec2(0.0f), placeholder ? kPlaceholderColour : kTextColour, glm::mat4(1.0f));
}

void TextEntryViewController::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (alpha_ <= 0.0f || !backdrop_.isReady()) return;
    backdrop_.draw(graphics, shader, alpha_);
    if (!field_->hasField) return;
    shader->setColor(glm::vec4(1.0f, 1.0f, 1.0f, alpha_));
    box_.draw(*shader);
    shader->use(Graphics::StandardShader::kAmbient);
    shader->setPVM(backdrop_.projection());
    textMesh_.draw(graphics, shader, glm::vec4(1.0f, 1.0f, 1.0f, alpha_));
}

void TextEntryViewController::touchBegan(glm::vec2 const& point, uint32_t) {
    tapStarted_ = field_->shown;
    tapInField_ = inField(point);
}

// A tap: where it began and where it ended agree.
void TextEntryViewController::touchEnded(glm::vec2 const& point, uint32_t) {
    if (!tapStarted_ || !field_->shown) return;
    tapStarted_ = false;
    bool const field = inField(point);
    if (field != tapInField_) return;
    if (field) {
        if (taps_.field) taps_.field();
    } else if (taps_.background) {
        taps_.background();
    }
}
