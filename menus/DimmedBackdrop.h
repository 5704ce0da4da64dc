#pragma once
// The running screen darkened under a view drawn over it: a black quad over the whole virtual
// screen, half opaque when fully shown.
#include <glm/mat4x4.hpp>

#include "graphics/Quad.h"
#include "graphics/Texture.h"

namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

class DimmedBackdrop {
public:
    explicit DimmedBackdrop(Graphics::Context* graphics);

    bool isReady() const { return white_.isReady(); }
    // Virtual pixels to clip space.
    glm::mat4 const& projection() const { return projection_; }
    // opacity 0..1 (fading in or out). Leaves the shader on plain colour over the white texture in
    // virtual pixels, for solid quads on top.
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, float opacity) const;

private:
    glm::mat4 projection_;
    Graphics::Texture white_;
    Quad quad_;
};
