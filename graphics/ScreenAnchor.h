#pragma once
// Placing texture-sized boxes on the logical screen (the platform's virtual resolution, origin
// at the bottom left, y upward) and projecting that screen to clip space.
#include <cstdint>
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

namespace Graphics {
class Texture;
}

enum ScreenAnchor : int32_t {
    kAnchorTopLeft = 0,
    kAnchorTopRight = 1,
    kAnchorBottomLeft = 2,
    kAnchorBottomRight = 3,
    kAnchorCenter = 4,
    kAnchorOrigin = 5,  // centred on (0, 0)
};

// The lower-left corner of a box of the texture's pixel size (empty for a null texture).
glm::vec2 anchoredPosition(ScreenAnchor anchor, Graphics::Texture const* texture);
glm::vec2 anchoredPosition(ScreenAnchor anchor, glm::vec2 const& boxSize, glm::vec2 const& screenSize);

// Logical pixels to -1..1 on both axes.
glm::mat4 screenProjection();
glm::mat4 screenProjection(glm::vec2 const& screenSize);
