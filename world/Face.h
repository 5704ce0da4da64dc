#pragma once
// The character's eyes and brows: the eyes look the way the player steers, blink now and then
// and grow big while inflated.
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <array>
#include <cstdint>
#include <random>

#include "graphics/Texture.h"
#include "world/ControlSchemeInputState.h"

namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

namespace Player {

class Face {
public:
    struct Vertex {
        glm::vec2 position;
        glm::vec2 uv;
    };

    Face(Graphics::Context* graphics, uint32_t seed);
    void update(ControlSchemeInputState const& input, float dt, float outerRadius);
    void pose(glm::vec2 centre, glm::vec2 up);
    void draw(Graphics::StandardShader* shader, glm::vec4 const& tint) const;

    float eyeFrame() const { return eyeFrame_; }
    bool isBlinking() const { return blinking_; }
    bool bigEyes() const { return bigEyes_; }
    float blinkInterval() const { return blinkInterval_; }

private:
    float uniform();
    static std::array<Vertex, 4> frameQuad(Graphics::Texture const& texture);

    Graphics::Texture eye_;
    Graphics::Texture bigEye_;
    Graphics::Texture blinkRight_;
    Graphics::Texture blinkLeft_;
    Graphics::Texture brows_;
    std::array<Vertex, 4> eyeQuad_{};
    std::array<Vertex, 4> browQuad_{};
    bool bigEyes_ = false;
    bool blinking_ = false;
    float eyeFrame_ = 0.0f;
    float blinkFrame_ = 0.0f;
    float blinkTimer_ = 0.0f;
    float blinkInterval_ = 2000.0f;
    std::minstd_rand random_;
};

}  // namespace Player
