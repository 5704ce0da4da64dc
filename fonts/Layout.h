#pragma once
// Text layout: UTF-8 text into glyph quads of a TextMesh.
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <string>

#include "fonts/Font.h"
#include "fonts/FontRecord.h"
#include "fonts/TextMesh.h"

namespace Fonts {

enum Alignment : int32_t { alignLeft = 0, alignCentre = 1, alignRight = 2 };

// Returns (origin x, origin y of the last line, pen end of the last line minus origin x).
// origin.z is the pen offset of left-aligned text. Invalid UTF-8 is drawn as U+FFFD.
glm::vec3 layoutText(Font const& font, TextMesh& mesh, glm::vec3 const& origin, std::string const& text,
                     int32_t alignment, glm::vec4 const& colour, glm::mat4 const& transform, float scale);

glm::vec3 layoutLine(FontRecord const& font, Graphics::Texture const* page, glm::vec3 const& origin,
                     std::string::const_iterator begin, std::string::const_iterator end, TextMesh& mesh,
                     int32_t alignment, glm::vec4 const& colour, glm::mat4 const& transform, float scale);

void addGlyph(Glyph const& glyph, TextMesh& mesh, Graphics::Texture const* page, glm::vec4 const& colour,
              glm::mat4 const& transform, float penX, float lineY);

}  // namespace Fonts
