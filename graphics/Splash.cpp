#include "graphics/Splash.h"

#include <algorithm>
#include <cmath>
#include <glm/gtc/matrix_transform.hpp>

#include "os/Assets.h"

namespace {
// The world's scale: 85 pixels per world unit (the world library sits above this one).
constexpr float kWorldUnitsPerPixel = 1.0f / 85.0f;
}  // namespace

SpriteSheetAnimation::Parameters const& Splash::parameters() {
    static SpriteSheetAnimation::Parameters const p(8, 8, 64, 0, false, 60.0f);
    return p;
}

Splash::Splash(Graphics::Context* context)
    : animation_(parameters()), texture_(context, Assets::texEffectsWaterWatersplash) {
    auto const& p = parameters();
    glm::vec2 const framePixels(float(texture_.width()) / float(p.columns), float(texture_.height()) / float(p.rows));
    size_ = framePixels * kWorldUnitsPerPixel;
    quad_ = Quad(position_, size_, animation_.getUvScale());
}

void Splash::start(glm::vec2 const& position, glm::vec2 const& velocity) {
    position_ = position;
    velocity_ = velocity;
    animation_.restart();
}

void Splash::update(float dt) { animation_.update(dt); }

float Splash::tiltFor(glm::vec2 const& velocity) {
    float const speed = glm::length(velocity);
    // No direction to turn toward: upright rather than a division by zero.
    if (!(speed >= kMinimumSpeed)) return 0.0f;
    float const angle = std::clamp(std::acos(std::clamp(-velocity.y / speed, -1.0f, 1.0f)), 0.0f, kMaximumAngle);
    return velocity.x / speed < 0.0f ? -angle : angle;
}

void Splash::orientToVelocity() {
    if (!isPlaying()) return;
    float const speed = glm::length(velocity_);
    float const scale = std::clamp(std::isfinite(speed) ? speed / 15.0f : 0.0f, 0.0f, 1.0f) + 0.5f;
    float const tilt = tiltFor(velocity_);
    quad_ = Quad(glm::vec2(-size_.x / 2.0f, 0.0f), size_, animation_.getUvScale());
    glm::mat4 m = glm::translate(glm::mat4(1.0f), glm::vec3(position_, 0.0f));
    m = glm::rotate(m, std::abs(tilt), glm::vec3(0.0f, 0.0f, tilt < 0.0f ? -1.0f : 1.0f));
    m = glm::scale(m, glm::vec3(2.0f * scale, scale, 1.0f));
    quad_.transform(m);
    quad_.offsetUV(animation_.getUvOffset());
}

void Splash::drawStretched(Graphics::StandardShader& shader) const {
    if (!isPlaying()) return;
    texture_.bind(GL_TEXTURE0);
    quad_.draw(shader);
    Quad mirrored = quad_;
    mirrored.corner(1).position -= 1.5f * (mirrored.corner(1).position - mirrored.corner(0).position);
    mirrored.corner(3).position -= 1.5f * (mirrored.corner(3).position - mirrored.corner(2).position);
    mirrored.draw(shader);
}
