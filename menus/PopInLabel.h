#pragma once
// A text laid out through a pop-in transform.
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <string>

#include "fonts/Font.h"
#include "fonts/TextMesh.h"
#include "menus/PopInTransform.h"

class PopInLabel {
public:
    PopInLabel(std::string const& text, PopInTransform const& popIn, Fonts::Font font, int32_t alignment, float scale);

    void update(float dt) { popIn_.update(dt); }
    // Lays the text out at (offset, 0) through the pop-in matrix.
    void draw(Fonts::TextMesh& mesh, glm::vec2 const& offset, glm::vec4 const& colour) const;

    PopInTransform& popIn() { return popIn_; }
    PopInTransform const& popIn() const { return popIn_; }
    std::string& text() { return text_; }

private:
    std::string text_;
    PopInTransform popIn_;
    Fonts::Font font_;
    int32_t alignment_;
    float scale_;
};
