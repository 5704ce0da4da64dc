#include "menus/DimmedPanelViewController.h"

#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>

#include "graphics/StandardShader.h"

namespace {

// Light text on a dark, opaque panel: well over 4.5:1 whatever the screen underneath shows.
glm::vec4 const kPanelColour(0.10f, 0.12f, 0.16f, 1.0f);
// The answers darkened under their white labels.
glm::vec4 const kButtonTint(0.6f, 0.6f, 0.6f, 1.0f);
float const kMargin = 20.0f;

// The answers in a row, left to right.
std::vector<FocusNavigator::Node> focusNodes(std::vector<AnimatedButton>& answers) {
    std::vector<FocusNavigator::Node> nodes;
    for (size_t i = 0; i < answers.size(); ++i) {
        nodes.emplace_back(&answers[i].button(), boost::make_optional(i > 0, uint64_t(i - 1)),
                           boost::make_optional(i + 1 < answers.size(), uint64_t(i + 1)), boost::none, boost::none);
    }
    return nodes;
}

}  // namespace

DimmedPanelViewController::DimmedPanelViewController(Graphics::Context* graphics, Audio::Context* audio,
                                                     glm::vec2 panelSize, std::vector<AnimatedButton> answers,
                                                     size_t focused, char const* screen,
                                                     std::function<void(int)> onChoice)
    : onChoice_(std::move(onChoice)),
      screen_(screen),
      backdrop_(graphics),
      panel_(-panelSize / 2.0f, panelSize, glm::vec2(1.0f)),
      answers_(std::move(answers)),
      focus_(audio, focusNodes(answers_), focused, true) {
    // The panel at the screen's centre, as large as it is designed or as the screen allows.
    float const w = virtualWidth(), h = virtualHeight();
    float const scale = std::min({1.0f, (w - 2.0f * kMargin) / panelSize.x, (h - 2.0f * kMargin) / panelSize.y});
    layout_ = glm::scale(glm::translate(glm::mat4(1.0f), glm::vec3(w / 2.0f, h / 2.0f, 0.0f)),
                         glm::vec3(scale, scale, 1.0f));
}

void DimmedPanelViewController::addLabel(TextLabel label, glm::vec4 const& colour, float maxWidth) {
    float const width = label.width();
    if (width > maxWidth && width > 0.0f) label.scale = maxWidth / width;
    labels_.push_back(std::move(label));
    colours_.push_back(colour);
}

void DimmedPanelViewController::choose(int index) {
    if (done_) return;
    done_ = true;
    interactive_ = false;
    // The owner dismisses (and deletes) the view from here: nothing may follow this call.
    if (auto chosen = std::move(onChoice_)) chosen(index);
}

glm::vec2 DimmedPanelViewController::toLayout(glm::vec2 const& point) const {
    glm::vec4 const p = glm::inverse(layout_) * glm::vec4(point, 0.0f, 1.0f);
    return {p.x, p.y};
}

void DimmedPanelViewController::update(Audio::Context&, float dt, float) {
    if (done_) return;
    if (!interactive_) {
        bool ready = backdrop_.isReady();
        for (auto const& a : answers_) ready = ready && a.button().isReady();
        if (!ready) return;
        interactive_ = true;
        for (auto& a : answers_) a.popIn().animation().start();
        logScreen(screen_);
    }
    focus_.updateHighlight();
    for (auto& a : answers_) a.update(dt);
}

void DimmedPanelViewController::preDraw(Graphics::Context*) {
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

void DimmedPanelViewController::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (!interactive_) return;
    backdrop_.draw(graphics, shader, 1.0f);
    glm::mat4 const matrix = backdrop_.projection() * layout_;
    shader->setPVM(matrix);
    shader->setColor(kPanelColour);
    panel_.draw(*shader);
    shader->setColor(kButtonTint);
    for (auto const& a : answers_) a.draw(shader);
    shader->use(Graphics::StandardShader::kAmbient);
    shader->setPVM(matrix);
    textMesh_.draw(graphics, shader, boost::none);
    buttonMesh_.draw(graphics, shader, boost::none);
}

void DimmedPanelViewController::touchBegan(glm::vec2 const& point, uint32_t tapCount) {
    if (!interactive_) return;
    for (auto& a : answers_) a.touchBegan(toLayout(point), tapCount);
}

void DimmedPanelViewController::touchMoved(glm::vec2 const& point, uint32_t tapCount) {
    if (!interactive_) return;
    for (auto& a : answers_) a.touchMoved(toLayout(point), tapCount);
}

void DimmedPanelViewController::touchEnded(glm::vec2 const& point, uint32_t tapCount) {
    if (!interactive_) return;
    // An answer's touch may close the view: stop at the first that takes it.
    for (auto& a : answers_)
        if (a.touchEnded(toLayout(point), tapCount)) return;
}

void DimmedPanelViewController::buttonPressed(uint32_t code) {
    if (interactive_ && code == buttonPause) choose(0);
}

void DimmedPanelViewController::gamepadInput(GamepadState const& state) {
    if (!interactive_) return;
    if (state.buttonB) {
        choose(0);
        return;
    }
    focus_.gamepadInput(state);
}
