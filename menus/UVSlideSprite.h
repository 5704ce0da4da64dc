#pragma once
// A sprite whose texture slides horizontally through its quad, eased by sineRamp.
#include <cstdint>

#include "graphics/Quad.h"
#include "graphics/Sprite.h"

class UVSlideSprite {
public:
    struct Parameters {
        float a, b;   // sineRamp breakpoints
        float speed;  // progress per ms
        float from, to;  // horizontal texture-coordinate offsets
    };
    enum State : uint32_t { kIdle = 0, kRunning = 1, kFinished = 2 };

    UVSlideSprite(Sprite&& sprite, Parameters const& parameters);

    void start();
    bool isFinished() const { return state_ == kFinished; }
    float progress() const { return progress_; }
    float offset() const { return offset_; }
    void update(float dt);
    void preDraw() { copyQuadUVs(quad_, sprite_, glm::vec2(offset_, 0.0f)); }
    void draw(Graphics::StandardShader* shader) const { drawQuadWithSprite(quad_, *shader, sprite_); }
    Sprite& sprite() { return sprite_; }
    Quad const& quad() const { return quad_; }

private:
    uint32_t state_ = kIdle;
    float progress_ = 0.0f;
    float speed_, from_, to_;
    float offset_;
    Sprite sprite_;
    Quad quad_;
    float a_, b_;
};
