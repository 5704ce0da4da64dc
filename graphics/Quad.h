#pragma once
// Four textured corners drawn as one triangle strip, from client memory.
#include <array>
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

namespace Graphics {
class StandardShader;
}

class Quad {
public:
    struct Corner {
        glm::vec2 position{0.0f};
        glm::vec2 uv{0.0f};
    };

    Quad() = default;
    // Corners in strip order: right-bottom, right-top, left-bottom, left-top. The top of the
    // image (v = 0) is at the top of the quad; y grows upward.
    Quad(glm::vec2 const& position, glm::vec2 const& size, glm::vec2 const& uvExtent);

    // The caller has chosen the shader mode, matrix, colour and texture.
    void draw(Graphics::StandardShader& shader) const;

    Corner& corner(std::size_t i) { return corners_[i]; }
    Corner const& corner(std::size_t i) const { return corners_[i]; }
    static constexpr std::size_t cornerCount() { return 4; }
    Corner const* data() const { return corners_.data(); }

    glm::vec2 center() const;
    // The lower-left and upper-right corners of the box around the four corners.
    glm::vec2 lowest() const;
    glm::vec2 highest() const;
    // Positions become m x (x, y, 0, 1); uvs stay.
    void transform(glm::mat4 const& m);
    void offsetUV(glm::vec2 const& offset);

private:
    std::array<Corner, 4> corners_{};
};
static_assert(sizeof(Quad) == 64, "a quad is drawn straight from its corners");
