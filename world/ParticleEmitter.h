#pragma once
// Sprite particles spawned in a box near the camera; drawn by the draw list's kind 2.
#include "level/PristineLevel.h"

namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

class ParticleEmitter {
public:
    explicit ParticleEmitter(PristineLevel::ParticleEmitter const&) {}
    void update(float) {}
    void draw(Graphics::Context*, Graphics::StandardShader*) {}
};
