#include "fonts/LabelStyles.h"

namespace {
glm::mat4 const identity(1.0f);
}

void drawShadowedLabel(Fonts::TextMesh& mesh, TextLabel const& label) {
    label.draw(mesh, Fonts::shadowOffset, Fonts::shadowColour, identity);
    label.draw(mesh, glm::vec2(0.0f), Fonts::shadowedTextColour, identity);
}

void drawEmbossedLabel(Fonts::TextMesh& mesh, TextLabel const& label) {
    label.draw(mesh, glm::vec2(0.0f, -2.0f), glm::vec4(230 / 255.0f, 205 / 255.0f, 120 / 255.0f, 0.5f), identity);
    label.draw(mesh, glm::vec2(0.0f), glm::vec4(108 / 255.0f, 73 / 255.0f, 33 / 255.0f, 1.0f), identity);
}

void drawDarkLabel(Fonts::TextMesh& mesh, TextLabel const& label) {
    label.draw(mesh, glm::vec2(0.0f), glm::vec4(0.25f, 0.2f, 0.2f, 1.0f), identity);
}
