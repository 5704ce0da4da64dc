#include "menus/LeftRightSelector.h"

#include <algorithm>

#include "fonts/LabelStyles.h"

namespace {

// Room kept between the value's text and either arrow.
float const kArrowMargin = 8.0f;

Rect extent(TextLabel const& a, TextLabel const& b) {
    Fonts::TextMesh measure;
    a.draw(measure, glm::vec2(0.0f), glm::vec4(1.0f), glm::mat4(1.0f));
    b.draw(measure, glm::vec2(0.0f), glm::vec4(1.0f), glm::mat4(1.0f));
    return measure.bounds();
}

std::pair<float, float> xRange(Quad const& q) {
    float lo = q.corner(0).position.x, hi = lo;
    for (size_t i = 1; i < Quad::cornerCount(); ++i) {
        lo = std::min(lo, q.corner(i).position.x);
        hi = std::max(hi, q.corner(i).position.x);
    }
    return {lo, hi};
}

}  // namespace

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
    TextLabel first = options_[selected_].first, second = options_[selected_].second;
    fitBetweenArrows(first, second);
    drawEmbossedLabel(mesh, first);
    drawEmbossedLabel(mesh, second);
}

// A value's name longer than its row was written for (another language, a longer name) would run
// under an arrow: the pair moves inward, and shrinks only when it is wider than the room.
void LeftRightSelector::fitBetweenArrows(TextLabel& first, TextLabel& second) const {
    if (!left_.isReady() || !right_.isReady()) return;
    float const room0 = xRange(left_.quad()).second + kArrowMargin;
    float const room1 = xRange(right_.quad()).first - kArrowMargin;
    Rect const drawn = extent(first, second);
    if (room1 <= room0 || drawn.minX > drawn.maxX) return;
    if (drawn.minX >= room0 && drawn.maxX <= room1) return;
    float const words = first.width() + second.width();
    if (words <= 0.0f) return;
    float const gap = drawn.getWidth() - words;
    if (drawn.getWidth() > room1 - room0) {
        float const scale = std::max(0.1f, (room1 - room0 - std::max(gap, 0.0f)) / words);
        first.scale *= scale;
        second.scale *= scale;
    }
    Rect const fitted = extent(first, second);
    float const shift = fitted.maxX > room1 ? room1 - fitted.maxX : fitted.minX < room0 ? room0 - fitted.minX : 0.0f;
    first.position.x += shift;
    second.position.x += shift;
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
