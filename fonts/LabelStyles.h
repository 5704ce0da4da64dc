#pragma once
// The fixed two-tone label looks of menus and screens.
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include "fonts/TextLabel.h"
#include "fonts/TextMesh.h"

namespace Fonts {
inline glm::vec4 const shadowColour(0.0f, 0.0f, 0.0f, 0.25f);
inline glm::vec4 const shadowedTextColour(0.85f, 0.85f, 0.85f, 1.0f);
inline glm::vec2 const shadowOffset(2.0f, -3.0f);
}  // namespace Fonts

void drawShadowedLabel(Fonts::TextMesh& mesh, TextLabel const& label);
void drawEmbossedLabel(Fonts::TextMesh& mesh, TextLabel const& label);
void drawDarkLabel(Fonts::TextMesh& mesh, TextLabel const& label);

// For the pop-in labels of the pause and results screens, which draw under their own transform:
// any label with draw(mesh, offset, colour).
template <class PopInLabel>
void drawShadowedWidgetText(Fonts::TextMesh& mesh, PopInLabel const& label) {
    label.draw(mesh, Fonts::shadowOffset, Fonts::shadowColour);
    label.draw(mesh, glm::vec2(0.0f), Fonts::shadowedTextColour);
}
