#pragma once
// A positioned text with its font, alignment and scale.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <string>

#include "fonts/Font.h"
#include "fonts/TextMesh.h"

class TextLabel {
public:
    TextLabel(std::string const& text, glm::vec2 const& position, Fonts::Font font, int32_t alignment, float scale);

    // Lays the text out at position + offset; returns the origin x and the y of the last line.
    glm::vec2 draw(Fonts::TextMesh& mesh, glm::vec2 const& offset, glm::vec4 const& colour,
                   glm::mat4 const& transform) const;
    // The laid-out width at this label's scale; 0 when it draws nothing.
    float width() const;
    // The text with line breaks at spaces so that no line is wider than maxWidth in this font where
    // the words allow (a word wider than that gets a line of its own); its own line breaks stay.
    static std::string wrap(std::string const& text, Fonts::Font font, float maxWidth);

    std::string const& text() const { return text_; }
    std::string& text() { return text_; }

    std::string text_;
    Fonts::Font font;
    int32_t alignment;
    float scale;
    glm::vec2 position;
};
