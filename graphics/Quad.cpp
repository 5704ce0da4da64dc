#include "graphics/Quad.h"

#include <glm/common.hpp>

#include "graphics/StandardShader.h"

Quad::Quad(glm::vec2 const& p, glm::vec2 const& s, glm::vec2 const& e)
    : corners_{{{{p.x + s.x, p.y}, {e.x, e.y}},
                {{p.x + s.x, p.y + s.y}, {e.x, 0.0f}},
                {{p.x, p.y}, {0.0f, e.y}},
                {{p.x, p.y + s.y}, {0.0f, 0.0f}}}} {}

void Quad::draw(Graphics::StandardShader& shader) const {
    auto const base = reinterpret_cast<uintptr_t>(corners_.data());
    shader.setVertexAttribute(0, 0, base, sizeof(Corner), 2, GL_FLOAT);
    shader.setVertexAttribute(0, 1, base + sizeof(glm::vec2), sizeof(Corner), 2, GL_FLOAT);
    shader.drawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

glm::vec2 Quad::center() const {
    glm::vec2 sum(0.0f);
    for (Corner const& c : corners_) sum += c.position;
    return sum * 0.25f;
}

glm::vec2 Quad::lowest() const {
    glm::vec2 lo = corners_[0].position;
    for (Corner const& c : corners_) lo = glm::min(lo, c.position);
    return lo;
}

glm::vec2 Quad::highest() const {
    glm::vec2 hi = corners_[0].position;
    for (Corner const& c : corners_) hi = glm::max(hi, c.position);
    return hi;
}

void Quad::transform(glm::mat4 const& m) {
    for (Corner& c : corners_) {
        glm::vec4 const p = m * glm::vec4(c.position, 0.0f, 1.0f);
        c.position = glm::vec2(p.x, p.y);
    }
}

void Quad::offsetUV(glm::vec2 const& offset) {
    for (Corner& c : corners_) c.uv += offset;
}
