#pragma once
// The counters of the bonus modes: white text with a black shadow, each group of texts on a dark
// plate of its own so that it reads over any part of any level (bright sky and clouds included).
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "fonts/Font.h"
#include "fonts/Rect.h"
#include "fonts/TextMesh.h"
#include "graphics/Texture.h"

namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

class HudText {
public:
    // Without a graphics context (headless runs) the texts are laid out and nothing is drawn.
    explicit HudText(Graphics::Context* graphics);

    void clear();
    // The texts added from here on share one plate.
    void newPlate();
    // Black at the anchor, then white at anchor + (-2, 2): the black copy reads as a shadow. The
    // scale is about the anchor and leaves the shadow offset as it is. Nothing for an empty text.
    void add(Fonts::Font const& font, std::string const& text, glm::vec2 anchor, int32_t alignment, float scale = 1.0f);
    // The plates, then the texts, blended; nothing when there is no text.
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) const;

    Fonts::TextMesh const& mesh() const { return mesh_; }
    std::vector<Rect> const& plates() const { return plates_; }

private:
    Graphics::Texture black_;
    Fonts::TextMesh mesh_;
    std::vector<Rect> plates_;
    bool plateOpen_ = false;
};
