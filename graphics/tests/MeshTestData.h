#pragma once
// Level mesh data and camera windows made in memory for the draw-list tests.
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/DrawList.h"

namespace gfx_test {

// A camera window [x0, x1] x [y0, y1] as four planes, seen from its centre.
inline DrawList::View window(float x0, float x1, float y0, float y1) {
    DrawList::View v;
    v.normals = {btVector3(1, 0, 0), btVector3(-1, 0, 0), btVector3(0, 1, 0), btVector3(0, -1, 0)};
    v.offsets = {-x0, x1, -y0, y1};
    v.position = {(x0 + x1) / 2, (y0 + y1) / 2};
    return v;
}

// A node whose box is the square of half side `half` around (x, y).
inline PristineLevel::MeshNode node(std::uint16_t kind, std::uint32_t index, float x = 0, float y = 0,
                                    float half = 0.5f) {
    PristineLevel::MeshNode n;
    n.kind = kind;
    n.index = index;
    n.box.min = {x - half, y - half, 0, 0};
    n.box.max = {x + half, y + half, 0, 0};
    return n;
}

// An array mesh over `count` vertices of two floats from vertex number `first` of vertex buffer 0
// (its base offset is that vertex), white.
inline PristineLevel::ArrayMesh arrayMesh(std::uint32_t first, std::uint32_t count) {
    PristineLevel::ArrayMesh m;
    m.baseOffset = first * 8;
    m.position = {0, 2, 2};
    m.stride = 8;
    m.firstVertex = first;
    m.vertexCount = count;
    m.color = glm::vec4(1.0f);
    return m;
}

inline std::vector<std::uint8_t> bytesOf(std::vector<float> const& v) {
    std::vector<std::uint8_t> b(v.size() * 4);
    std::memcpy(b.data(), v.data(), b.size());
    return b;
}

}  // namespace gfx_test
