#include "menus/PopInLabel.h"

#include "fonts/Layout.h"

PopInLabel::PopInLabel(std::string const& text, PopInTransform const& popIn, Fonts::Font font, int32_t alignment,
                       float scale)
    : text_(text), popIn_(popIn), font_(font), alignment_(alignment), scale_(scale) {}

void PopInLabel::draw(Fonts::TextMesh& mesh, glm::vec2 const& offset, glm::vec4 const& colour) const {
    Fonts::layoutText(font_, mesh, glm::vec3(offset, 0.0f), text_, alignment_, colour, popIn_.matrix(), scale_);
}
