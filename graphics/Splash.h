#pragma once
// The splash a body makes entering a liquid: one sprite-sheet run on a quad turned toward the
// body's velocity, drawn with a squashed mirror image below it.
#include <glm/vec2.hpp>

#include "graphics/Quad.h"
#include "graphics/SpriteSheetAnimation.h"
#include "graphics/Texture.h"

namespace Graphics {
class Context;
}

class Splash {
public:
    // 8 x 8 frames, 64 of them at 60 per second, played once.
    static SpriteSheetAnimation::Parameters const& parameters();
    // Below this speed (world units per second) the splash stands upright.
    static constexpr float kMinimumSpeed = 1e-4f;
    // The largest tilt toward the velocity: 22 degrees.
    static constexpr float kMaximumAngle = 0.38397244f;

    explicit Splash(Graphics::Context* context);

    void start(glm::vec2 const& position, glm::vec2 const& velocity);
    void update(float dt);
    bool isPlaying() const { return animation_.isPlaying(); }
    // Rebuilds the quad for the current frame, tilted toward the velocity.
    void orientToVelocity();
    void drawStretched(Graphics::StandardShader& shader) const;

    Quad const& quad() const { return quad_; }
    glm::vec2 const& size() const { return size_; }
    // The tilt orientToVelocity applies: about +z for a velocity with x >= 0, about -z (negative
    // here) otherwise.
    static float tiltFor(glm::vec2 const& velocity);

private:
    SpriteSheetAnimation animation_;
    Graphics::Texture texture_;
    glm::vec2 position_{0.0f};
    glm::vec2 velocity_{0.0f, 1.0f};
    glm::vec2 size_{0.0f};
    Quad quad_;
};
