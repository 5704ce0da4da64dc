#include "fonts/TextMesh.h"

#include <algorithm>
#include <cstddef>
#include <limits>

#include "graphics/Texture.h"
#include "graphics/Context.h"
#include "graphics/DrawRecord.h"
#include "graphics/StandardShader.h"

namespace Fonts {

void TextMesh::addQuad(TextMesh& mesh, glm::vec2 const (&texCoords)[4], glm::vec2 const (&corners)[4],
                       Graphics::Texture const* page, glm::vec4 const& colour, glm::mat4 const& transform) {
    auto& batches = mesh.batches;
    // A full batch starts a new one: its u16 indices could not address a further vertex.
    if (batches.empty() || batches.back().page != page || batches.back().colour != colour ||
        batches.back().vertices.size() + 4 > maxBatchVertices) {
        batches.push_back(PageBatch{page, colour, {}, {}});
    }
    PageBatch& b = batches.back();
    auto const base = static_cast<uint16_t>(b.vertices.size());
    for (int i = 0; i < 4; ++i) {
        glm::vec4 p = transform * glm::vec4(corners[i].x, corners[i].y, 0.0f, 1.0f);
        b.vertices.push_back({p.x, p.y, texCoords[i].x, texCoords[i].y});
    }
    for (uint16_t i : {0, 1, 2, 1, 3, 2}) b.indices.push_back(static_cast<uint16_t>(base + i));
}

bool TextMesh::empty() const {
    for (auto const& b : batches)
        if (!b.vertices.empty()) return false;
    return true;
}

Rect TextMesh::bounds() const {
    constexpr float inf = std::numeric_limits<float>::infinity();
    Rect r{inf, -inf, inf, -inf};
    for (auto const& b : batches) {
        for (uint16_t i : b.indices) {
            if (i >= b.vertices.size()) continue;
            Vertex const& v = b.vertices[i];
            r.minX = std::min(r.minX, v.x);
            r.maxX = std::max(r.maxX, v.x);
            r.minY = std::min(r.minY, v.y);
            r.maxY = std::max(r.maxY, v.y);
        }
    }
    return r;
}

void TextMesh::draw(Graphics::Context* graphics, Graphics::StandardShader* shader,
                    boost::optional<glm::vec4> const& tint) const {
    graphics->setBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    for (auto const& b : batches) {
        // A page still loading (or missing) draws nothing rather than an unbound texture.
        if (b.indices.empty() || !b.page || !b.page->isReady()) continue;
        b.page->bind(GL_TEXTURE0);
        shader->setColor(tint ? b.colour * *tint : b.colour);
        auto const base = reinterpret_cast<uintptr_t>(b.vertices.data());
        shader->setVertexAttribute(0, 0, base + offsetof(Vertex, x), sizeof(Vertex), 2, GL_FLOAT);
        shader->setVertexAttribute(0, 1, base + offsetof(Vertex, u), sizeof(Vertex), 2, GL_FLOAT);
        shader->drawElements(0, reinterpret_cast<uintptr_t>(b.indices.data()), GLsizei(b.indices.size()), GL_TRIANGLES,
                             GL_UNSIGNED_SHORT);
    }
    graphics->restoreBlendFunc();
    if (Graphics::DrawRecord::on() && !labels.empty()) {
        bool const shown = std::any_of(batches.begin(), batches.end(), [](PageBatch const& b) {
            return !b.indices.empty() && b.page && b.page->isReady();
        });
        if (shown)
            for (auto const& l : labels)
                Graphics::DrawRecord::text(l.text, l.lo, l.hi, shader->pvm(), tint ? l.colour * *tint : l.colour,
                                           l.owner);
    }
}

}  // namespace Fonts
