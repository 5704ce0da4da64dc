#pragma once
// An axis-aligned rectangle: x bounds first, then y bounds. Text bounds, hit areas and the
// screens' touch areas share this one type.
#include <glm/vec2.hpp>

struct Rect {
    float minX = 0.0f;
    float maxX = 0.0f;
    float minY = 0.0f;
    float maxY = 0.0f;

    Rect() = default;
    Rect(float minX, float maxX, float minY, float maxY) : minX(minX), maxX(maxX), minY(minY), maxY(maxY) {}
    Rect(glm::vec2 centre, glm::vec2 halfExtents)
        : minX(centre.x - halfExtents.x),
          maxX(centre.x + halfExtents.x),
          minY(centre.y - halfExtents.y),
          maxY(centre.y + halfExtents.y) {}

    // Strictly inside: a point on the border is outside.
    bool contains(glm::vec2 p) const { return minX < p.x && p.x < maxX && minY < p.y && p.y < maxY; }
    float getWidth() const { return maxX - minX; }
    // The four floats in order.
    float const* data() const { return &minX; }
};
