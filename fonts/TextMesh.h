#pragma once
// Laid-out text: glyph quads gathered into batches that share an atlas page and a colour.
#include <boost/optional.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "fonts/Rect.h"

namespace Graphics {
class Context;
class StandardShader;
class Texture;
}  // namespace Graphics

namespace Fonts {

class TextMesh {
public:
    struct Vertex {
        float x, y, u, v;
    };
    struct PageBatch {
        Graphics::Texture const* page = nullptr;
        glm::vec4 colour;
        std::vector<Vertex> vertices;
        std::vector<uint16_t> indices;
    };
    // u16 indices address at most this many vertices in one batch.
    static constexpr std::size_t maxBatchVertices = 65536;

    // Appends one quad; corners and texCoords in the order top-left, top-right, bottom-left,
    // bottom-right.
    static void addQuad(TextMesh& mesh, glm::vec2 const (&texCoords)[4], glm::vec2 const (&corners)[4],
                        Graphics::Texture const* page, glm::vec4 const& colour, glm::mat4 const& transform);

    // Draws every batch whose page is loaded, with the colour times the tint; the caller has
    // chosen a colour mode of the shader and set its matrix.
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, boost::optional<glm::vec4> const& tint) const;
    void clear() {
        batches.clear();
        labels.clear();
    }
    bool empty() const;
    Rect bounds() const;

    std::vector<PageBatch> batches;

    // Each laid-out text with the box of its glyphs, kept only while the draw record is on.
    struct Label {
        std::string text;
        glm::vec2 lo, hi;
        glm::vec4 colour;
        void const* owner;
    };
    std::vector<Label> labels;
};

}  // namespace Fonts
