#pragma once
#include <glm/mat4x4.hpp>

// 85 pixels per world unit.
inline constexpr float worldScale = 1.0f / 85.0f;
// The 1280-pixel reference view in world units (about 15.058824).
inline constexpr float worldViewWidth = 1280.0f * worldScale;

// The pixel-to-world matrix diag(1/85, 1/85, 1, 1). A function-local constant, so callers in
// other files' static initialisers always see it built.
glm::mat4 const& worldPixelMatrix();
