#pragma once
// A sprite that grows from nothing to its largest scale about a pivot while its fade falls;
// whoever draws it reads the fade.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

#include <cstdint>

#include "graphics/Quad.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/Sprite.h"

class ExpandingSprite {
public:
    struct Parameters {
        float speed;  // scale per ms
        float maxScale;
        float fadeStart;
    };
    enum State : uint32_t { kIdle = 0, kRunning = 1, kFinished = 2 };

    ExpandingSprite(Sprite&& sprite, ScreenAnchor anchor, Parameters const& parameters, glm::vec2 const& translation);

    void start();
    bool isFinished() const { return state_ == kFinished; }
    // Finishes in the update after the one in which the scale reached its maximum.
    void update(float dt);
    void preDraw() { copyQuadPositions(quad_, sprite_, matrix_); }

    Sprite& sprite() { return sprite_; }
    Quad const& quad() const { return quad_; }
    float fade() const { return fade_; }
    float scale() const { return scale_; }
    uint32_t state() const { return state_; }
    glm::mat4 const& matrix() const { return matrix_; }

private:
    Sprite sprite_;
    Quad quad_;
    glm::mat4 matrix_{0.0f};
    float fadeStart_;
    float scale_ = 0.0f;
    float fade_ = 1.0f;
    float maxScale_;
    float speed_;
    uint32_t state_ = kIdle;
    glm::vec2 pivot_;
};
