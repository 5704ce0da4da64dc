#include "menus/LeftRightSelector.h"

#include "fonts/LabelStyles.h"

LeftRightSelector::LeftRightSelector(Sprite const& background, Button&& left, Button&& right,
                                     std::vector<Option>&& options, uint64_t selected, uint64_t tag)
    : tag_(tag), background_(background), left_(std::move(left)), right_(std::move(right)),
      options_(std::move(options)), selected_(selected) {}

void LeftRightSelector::draw(Graphics::StandardShader* shader) const {
    background_.draw(*shader);
    left_.draw(shader);
    right_.draw(shader);
}

void LeftRightSelector::layoutLabels(Fonts::TextMesh& mesh) const {
    // An owner's action may have stepped past the end; nothing is drawn then.
    if (selected_ >= options_.size()) return;
    drawEmbossedLabel(mesh, options_[selected_].first);
    drawEmbossedLabel(mesh, options_[selected_].second);
}

void LeftRightSelector::touchBegan(glm::vec2 const& point, unsigned touch) {
    left_.touchBegan(point, touch);
    right_.touchBegan(point, touch);
}

void LeftRightSelector::touchMoved(glm::vec2 const& point, unsigned touch) {
    left_.touchMoved(point, touch);
    right_.touchMoved(point, touch);
}

void LeftRightSelector::touchEnded(glm::vec2 const& point, unsigned touch) {
    left_.touchEnded(point, touch);
    right_.touchEnded(point, touch);
}

void LeftRightSelector::update(float dt) {
    left_.setHighlighted(right_.isHighlighted());
    left_.update(dt);
    right_.update(dt);
}
