#pragma once
// The character's soft outline: sixteen rim points simulated as a small mass-spring ring that
// follows the body, keeps its shape and area, flattens while diving on the ground and does not
// pass through what the body touches; drawn as a textured triangle fan.
#include <glm/vec2.hpp>

#include <array>

#include "graphics/Texture.h"
#include "world/ControlSchemeInputState.h"

class b2Body;
namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

namespace Player {

class Outline {
public:
    static constexpr int pointCount = 16;
    struct Vertex {
        glm::vec2 position;
        glm::vec2 uv;
    };

    Outline(Graphics::Context* graphics, glm::vec2 centre, float radius);
    // Rebuilt round a centre (a respawn), no point lagging behind.
    void reset(glm::vec2 centre, float radius);
    // Two sub-steps; r is the current outer radius.
    void update(glm::vec2 groundNormal, bool grounded, ControlSchemeInputState const& input, b2Body* body, float r);
    void pose(glm::vec2 up);
    glm::vec2 centroid() const;
    void draw(Graphics::StandardShader* shader) const;

    std::array<glm::vec2, pointCount> const& points() const { return points_; }
    std::array<Vertex, pointCount + 2> const& fan() const { return fan_; }

private:
    void subStep(glm::vec2 groundNormal, bool grounded, bool dive, b2Body* body, float r);

    Graphics::Texture texture_;
    std::array<Vertex, pointCount + 2> fan_{};
    std::array<glm::vec2, pointCount> points_{};
    // Each point's place one step back and its direction at rest, as x and y rows.
    std::array<float, pointCount> previousX_{}, previousY_{};
    std::array<float, pointCount> restX_{}, restY_{};
};

}  // namespace Player
