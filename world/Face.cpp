#include "world/Face.h"

#include <algorithm>
#include <cmath>

#include "graphics/StandardShader.h"
#include "world/WorldConstants.h"

namespace Player {

namespace {

TextureDescriptor art(char const* path) { return TextureDescriptor(path, TextureOptions(1, 1, 0, 0), 0); }

glm::vec2 rotate(glm::vec2 v, float angle) {
    float const c = std::cos(angle);
    float const s = std::sin(angle);
    return glm::vec2(c * v.x - s * v.y, s * v.x + c * v.y);
}

void drawStrip(Graphics::StandardShader* shader, std::array<Face::Vertex, 4> const& quad) {
    auto const base = reinterpret_cast<uintptr_t>(quad.data());
    shader->setVertexAttribute(0, 0, base, sizeof(Face::Vertex), 2, GL_FLOAT);
    shader->setVertexAttribute(0, 1, base + sizeof(glm::vec2), sizeof(Face::Vertex), 2, GL_FLOAT);
    shader->drawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

}  // namespace

Face::Face(Graphics::Context* graphics, uint32_t seed)
    : eye_(graphics, art("art/character/Eye.png")),
      bigEye_(graphics, art("art/character/Eyebig.png")),
      blinkRight_(graphics, art("art/character/Eyeblinkright.png")),
      blinkLeft_(graphics, art("art/character/Eyeblinkleft.png")),
      brows_(graphics, art("art/character/Brows.png")),
      random_(seed == 0 ? 1u : seed) {}

float Face::uniform() { return float(random_() - 1) / 2147483646.0f; }

// One frame of a 16-frame strip in world units, corners in strip order. The size is read each
// pose, since the texture loads in the background.
std::array<Face::Vertex, 4> Face::frameQuad(Graphics::Texture const& texture) {
    float const w = float(texture.width()) / 16.0f * worldScale;
    float const h = float(texture.height()) * worldScale;
    return {Vertex{{w, 0.0f}, {0.0625f, 1.0f}}, Vertex{{w, h}, {0.0625f, 0.0f}}, Vertex{{0.0f, 0.0f}, {0.0f, 1.0f}},
            Vertex{{0.0f, h}, {0.0f, 0.0f}}};
}

void Face::update(ControlSchemeInputState const& input, float dt, float outerRadius) {
    if (input.left != 0) {
        eyeFrame_ = std::clamp(eyeFrame_ + dt / 16.666666f, 0.0f, 15.0f);
    } else if (input.right != 0) {
        eyeFrame_ = std::clamp(eyeFrame_ - dt / 16.666666f, 0.0f, 15.0f);
    }
    bigEyes_ = outerRadius > 0.69360006f;
    bool const resting = eyeFrame_ == 0.0f || eyeFrame_ == 15.0f;
    if (resting) {
        blinkTimer_ += dt;
        if (blinkTimer_ > blinkInterval_) {
            blinking_ = true;
            blinkInterval_ = 2000.0f + 2000.0f * uniform();
            if (uniform() < 0.36f) {
                blinkInterval_ = 500.0f;
            }
        }
    }
    if (blinking_) {
        blinkFrame_ = std::clamp(blinkFrame_ + dt / 66.666664f, 0.0f, 3.0f);
        if (blinkFrame_ >= 3.0f || bigEyes_ || !resting) {
            blinking_ = false;
            blinkFrame_ = 0.0f;
            blinkTimer_ = 0.0f;
        }
    }
}

void Face::pose(glm::vec2 centre, glm::vec2 up) {
    float angle = std::acos(std::clamp(up.y, -1.0f, 1.0f));
    if (up.x > 0.0f) {
        angle = -angle;
    }
    std::array<Vertex, 4> const eye = frameQuad(eye_);
    std::array<Vertex, 4> const brow = frameQuad(brows_);
    float const frame = std::floor(eyeFrame_) * 0.0625f;
    for (std::size_t i = 0; i < 4; ++i) {
        eyeQuad_[i].position = centre + rotate(eye[i].position - glm::vec2(0.725f, 0.8f), angle);
        eyeQuad_[i].uv = blinking_ ? glm::vec2(eye[i].uv.x * 4.0f + std::floor(blinkFrame_) * 0.25f, eye[i].uv.y)
                                   : eye[i].uv + glm::vec2(frame, 0.0f);
        browQuad_[i].position =
            centre + rotate(glm::vec2(brow[i].position.x - 0.725f, brow[i].position.y + (bigEyes_ ? 0.1f : 0.0f)), angle);
        browQuad_[i].uv = brow[i].uv + glm::vec2(frame, 0.0f);
    }
}

void Face::draw(Graphics::StandardShader* shader, glm::vec4 const& tint) const {
    Graphics::Texture const& eye =
        bigEyes_ ? bigEye_ : (blinking_ ? (eyeFrame_ == 0.0f ? blinkRight_ : blinkLeft_) : eye_);
    eye.bind(GL_TEXTURE0);
    shader->setColor(glm::vec4(1.0f));
    drawStrip(shader, eyeQuad_);
    brows_.bind(GL_TEXTURE0);
    shader->setColor(tint);
    drawStrip(shader, browQuad_);
}

}  // namespace Player
