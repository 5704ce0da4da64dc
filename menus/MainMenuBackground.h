#pragma once
// The main menu's full-screen backdrop: one picture on a 20 x 20 grid seen in perspective, whose
// interior the vertex shader moves over time while the border stays on the screen's edge. One
// draw call a frame from client memory.
#include <cstdint>
#include <vector>

#include <glm/mat4x4.hpp>

#include "graphics/ShaderProgram.h"
#include "graphics/Texture.h"

namespace Graphics {
class Context;
}

class MainMenuBackground {
public:
    static constexpr int kCells = 20;
    // 20 rows of 21 columns of two vertices, plus one repeated vertex per row.
    static constexpr int kVertexCount = kCells * (2 * (kCells + 1) + 1);
    struct Vertex {
        float x, y, z, u, v;
    };

    explicit MainMenuBackground(Graphics::Context* graphics);

    void draw(Graphics::Context* graphics);

    glm::mat4 const& projView() const { return projView_; }
    std::vector<Vertex> const& vertices() const { return vertices_; }
    Graphics::Texture const& texture() const { return texture_; }
    Graphics::ShaderProgram const& program() const { return program_; }
    // The "time" uniform for a clock reading: 1.0 per 666 ms since construction.
    float timeAt(uint64_t nowMs) const { return float(nowMs - startMs_) / 666.0f; }

private:
    Graphics::ShaderProgram program_;
    GLint vertexLocation_, uvLocation_, projViewLocation_, texLocation_, timeLocation_;
    Graphics::Texture texture_;
    glm::mat4 projView_;
    std::vector<Vertex> vertices_;
    uint64_t startMs_;
};
