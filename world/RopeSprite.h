#pragma once
// Textured strips stretched between joint anchors, rebuilt every frame: `RopeSprite` between a
// joint's two anchors, `PulleyRopeSprite` (in its own header) the two ropes of a pulley.
#include <glm/vec2.hpp>

#include <cstdint>
#include <vector>

#include "graphics/QuadInstance.h"
#include "level/PristineLevel.h"

class b2Joint;
class DrawList;
namespace Graphics {
class Context;
}

namespace Graphics {
class Texture;
}

// How a rope quad's strip is laid out over its texture.
struct RopeStrip {
    Graphics::Texture const* texture = nullptr;
    float widthScale = 1.0f;
    float repeat = 1.0f;
    float vStart = 0.0f;

    RopeStrip() = default;
    RopeStrip(QuadInstance const& quad, glm::vec2 scale, float vStart);
    // The texture's size in metres; read each time, since textures load after the level is built.
    glm::vec2 textureSize() const;
    // Writes the strip from p to q into the quad.
    void build(QuadInstance& quad, glm::vec2 p, glm::vec2 q) const;
};

class RopeSprite {
public:
    // A joint index that names no built joint gives a sprite that draws nothing (logged).
    RopeSprite(PristineLevel::MeshSet const& meshSet, DrawList* drawList, std::vector<b2Joint*> const& joints,
               PristineLevel::JointSprite const& record, Graphics::Context* graphics = nullptr);

    void update(float dt = 0.0f);
    void draw();
    QuadInstance const& quad() const { return quad_; }

private:
    QuadInstance quad_;
    b2Joint* joint_ = nullptr;
    RopeStrip strip_;
    Graphics::Context* graphics_;
};
