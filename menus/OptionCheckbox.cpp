#include "menus/OptionCheckbox.h"

#include "fonts/LabelStyles.h"
#include "graphics/StandardShader.h"

OptionCheckbox::OptionCheckbox(uint64_t kind, Sprite const& bar, Button&& unchecked, Button&& checked,
                               TextLabel const& label, bool isChecked, Button&& focus)
    : kind_(kind),
      bar_(bar),
      unchecked_(std::move(unchecked)),
      checked_(std::move(checked)),
      label_(label),
      checked(isChecked ? 1 : 0),
      focus_(std::move(focus)) {}

void OptionCheckbox::draw(Graphics::StandardShader* shader) const {
    bar_.draw(*shader);
    (this->checked ? checked_ : unchecked_).draw(shader);
    // Last, or the bar would hide the focus ring.
    focus_.draw(shader);
}

void OptionCheckbox::drawText(Fonts::TextMesh& mesh) const { drawEmbossedLabel(mesh, label_); }

void OptionCheckbox::gamepadInput(GamepadState const& state) {
    if (focus_.isHighlighted() && state.buttonA && !previous_.buttonA) visible().activate();
    previous_ = state;
}
