#include "fonts/TextLabel.h"

#include <sstream>

#include "fonts/Layout.h"

TextLabel::TextLabel(std::string const& text, glm::vec2 const& position, Fonts::Font font, int32_t alignment,
                     float scale)
    : text_(text), font(font), alignment(alignment), scale(scale), position(position) {}

glm::vec2 TextLabel::draw(Fonts::TextMesh& mesh, glm::vec2 const& offset, glm::vec4 const& colour,
                          glm::mat4 const& transform) const {
    glm::vec3 origin(position.x + offset.x, position.y + offset.y, 0.0f);
    glm::vec3 end = Fonts::layoutText(font, mesh, origin, text_, alignment, colour, transform, scale);
    return {end.x, end.y};
}

float TextLabel::width() const {
    Fonts::TextMesh mesh;
    draw(mesh, glm::vec2(0.0f), glm::vec4(1.0f), glm::mat4(1.0f));
    return mesh.empty() ? 0.0f : mesh.bounds().getWidth();
}

std::string TextLabel::wrap(std::string const& text, Fonts::Font font, float maxWidth) {
    auto width = [&](std::string const& line) { return TextLabel(line, glm::vec2(0.0f), font, 0, 1.0f).width(); };
    std::string out;
    std::istringstream paragraphs(text);
    for (std::string paragraph; std::getline(paragraphs, paragraph);) {
        std::istringstream words(paragraph);
        std::string line;
        for (std::string word; words >> word;) {
            std::string const longer = line.empty() ? word : line + " " + word;
            if (!line.empty() && width(longer) > maxWidth) {
                out += line + "\n";
                line = word;
            } else {
                line = longer;
            }
        }
        out += line + "\n";
    }
    if (!out.empty()) out.pop_back();
    return out;
}
