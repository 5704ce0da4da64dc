#pragma once
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

// 85 pixels per world unit.
inline constexpr float worldScale = 1.0f / 85.0f;
// The 1280-pixel reference view in world units (about 15.058824).
inline constexpr float worldViewWidth = 1280.0f * worldScale;
// Metres per second squared, y up.
inline constexpr glm::vec2 worldGravity{0.0f, -10.8f};
// One physics step per world update, whatever the frame took.
inline constexpr float worldStepSeconds = 1.0f / 60.0f;
inline constexpr int worldVelocityIterations = 6;
inline constexpr int worldPositionIterations = 4;

// The pixel-to-world matrix diag(1/85, 1/85, 1, 1). A function-local constant, so callers in
// other files' static initialisers always see it built.
glm::mat4 const& worldPixelMatrix();
// Its inverse, world units to pixels.
glm::mat4 const& worldToPixelMatrix();
