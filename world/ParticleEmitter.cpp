#include "world/ParticleEmitter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "os/services/PlatformServices.h"

namespace {

constexpr float metresPerPixel = 1.0f / 85.0f;
// Equal spawn bounds would make an empty range.
constexpr float emptyRangeWidth = 0.001f;
// All intervals weigh the same, so their number only shapes rounding; more is a damaged record.
constexpr std::uint32_t maxSpawnIntervals = 4096;
// Enough for any level's sprites; more is a damaged record.
constexpr std::uint32_t maxSprites = 100000;

float finiteOr0(float v) { return std::isfinite(v) ? v : 0.0f; }

std::piecewise_constant_distribution<float> spawnRange(float a, float b, std::uint32_t intervals) {
    a = finiteOr0(a);
    b = finiteOr0(b);
    if (b < a) {
        std::swap(a, b);
    }
    if (a == b) {
        b = a + emptyRangeWidth;
    }
    std::size_t const n = std::clamp<std::uint32_t>(intervals, 1, maxSpawnIntervals);
    return std::piecewise_constant_distribution<float>(n, a, b, [](float) { return 1.0f; });
}

}  // namespace

ParticleEmitter::ParticleEmitter(Graphics::Context* graphics, PristineLevel::ParticleEmitter const& record,
                                 DrawList* drawList, std::optional<std::uint32_t> seed)
    : boxMin_(record.boxMin),
      boxMax_(record.boxMax),
      rows_(record.rows),
      columns_(record.columns),
      frameCount_(record.frameCount),
      uvWidth_(record.frameSize.x),
      uvHeight_(record.frameSize.y),
      texture_(graphics, record.sprite),
      fps_(finiteOr0(record.framesPerSecond)),
      scale_(finiteOr0(record.scale)),
      color_(record.color),
      spawnX_(spawnRange(record.spawnMin.x, record.spawnMax.x, record.spawnIntervals.x)),
      spawnY_(spawnRange(record.spawnMin.y, record.spawnMax.y, record.spawnIntervals.y)),
      spawnZ_(spawnRange(record.spawnMin.z, record.spawnMax.z, record.spawnIntervals.z)),
      velocityMin_(record.velocityMin),
      velocityMax_(record.velocityMax),
      angleMin_(finiteOr0(record.angleMin)),
      angleMax_(finiteOr0(record.angleMax)),
      angularVelocityMin_(finiteOr0(record.angularVelocityMin)),
      angularVelocityMax_(finiteOr0(record.angularVelocityMax)) {
    for (int i = 0; i < 3; ++i) {
        velocityMin_[i] = finiteOr0(velocityMin_[i]);
        velocityMax_[i] = finiteOr0(velocityMax_[i]);
    }
    if (drawList != nullptr && record.drawable < drawList->handleCount()) {
        handle_ = &drawList->handleRecord(record.drawable);
    } else {
        std::fprintf(stderr, "World: particle emitter names drawable %u, which the level does not have\n",
                     record.drawable);
    }
    if (frameCount_ == 0 || columns_ == 0 || rows_ == 0) {
        std::fprintf(stderr, "World: particle emitter with %u frames in %u x %u is off\n", record.frameCount,
                     record.columns, record.rows);
        return;
    }
    if (record.particleCount > maxSprites) {
        std::fprintf(stderr, "World: particle emitter with %u sprites is off\n", record.particleCount);
        return;
    }
    enabled_ = true;
    startFrame_ = std::uniform_int_distribution<int>(
        0, int(std::min<std::uint64_t>(frameCount_ - 1, std::uint64_t(std::numeric_limits<int>::max()))));
    std::uint32_t start = 0;
    if (seed) {
        start = *seed;
    } else {
        start = std::uint32_t(std::uint64_t(std::max<std::int64_t>(nowMs(), 0)) % 2147483647u);
    }
    random_.seed(start == 0 ? 1 : start);
    particles_.resize(record.particleCount);
    vertices_.resize(6 * std::size_t(record.particleCount));
    // Start full: spawned, then spread over the whole box.
    float const boxLowX = finiteOr0(boxMin_.x);
    float const boxHighX = finiteOr0(boxMax_.x);
    float const boxLowY = finiteOr0(boxMin_.y);
    float const boxHighY = finiteOr0(boxMax_.y);
    for (Particle& particle : particles_) {
        spawn(particle);
        particle.position.x = uniform(boxLowX, boxHighX);
        particle.position.y = uniform(boxLowY, boxHighY);
    }
}

float ParticleEmitter::uniform(float a, float b) {
    auto const r = float(random_());
    return a + (b - a) * (r - 1.0f) / 2147483646.0f;
}

void ParticleEmitter::spawn(Particle& particle) {
    particle.startFrame = std::uint64_t(startFrame_(random_));
    particle.position.x = spawnX_(random_);
    particle.position.y = spawnY_(random_);
    particle.position.z = spawnZ_(random_);
    particle.angle = uniform(angleMin_, angleMax_);
    particle.velocity.x = uniform(velocityMin_.x, velocityMax_.x);
    particle.velocity.y = uniform(velocityMin_.y, velocityMax_.y);
    particle.velocity.z = uniform(velocityMin_.z, velocityMax_.z);
    particle.angularVelocity = uniform(angularVelocityMin_, angularVelocityMax_);
}

void ParticleEmitter::update(float dtMs, float timeMs, DrawList const* drawList) {
    if (!enabled_ || handle_ == nullptr || handle_->leaf == nullptr || drawList == nullptr ||
        !drawList->isVisible(*handle_)) {
        return;
    }
    float const frameWidth = float(std::uint64_t(texture_.width()) / columns_);
    float const frameHeight = float(std::uint64_t(texture_.height()) / rows_);
    float const halfWidth = frameWidth * metresPerPixel * scale_ * 0.5f;
    float const halfHeight = frameHeight * metresPerPixel * scale_ * 0.5f;
    float const seconds = dtMs / 1000.0f;
    // Frames played so far on the level clock; a clock that is not a count plays frame 0.
    float const played = std::floor(timeMs / 1000.0f * fps_);
    std::uint64_t const elapsed = played >= 0.0f && played < 1.0e18f ? std::uint64_t(played) : 0;
    for (std::size_t i = 0; i < particles_.size(); ++i) {
        Particle& particle = particles_[i];
        particle.position += particle.velocity * seconds;
        particle.angle += particle.angularVelocity * seconds;
        particle.currentFrame = (particle.startFrame + elapsed) % frameCount_;
        glm::vec3& p = particle.position;
        if (!(p.x >= boxMin_.x && p.x <= boxMax_.x && p.y >= boxMin_.y && p.y <= boxMax_.y)) {
            spawn(particle);
        }
        std::uint64_t const column = particle.currentFrame % columns_;
        std::uint64_t const row = particle.currentFrame / columns_;
        float const uL = float(column) * uvWidth_;
        float const uR = float(column + 1) * uvWidth_;
        float const vB = float(row) * uvHeight_;
        float const vT = float(row + 1) * uvHeight_;
        float const radians = particle.angle * 0.017453292f;
        float const c = std::cos(radians);
        float const s = std::sin(radians);
        auto corner = [&](float x, float y, float u, float v) {
            return Vertex{p.x + c * x - s * y, p.y + s * x + c * y, p.z, u, v};
        };
        Vertex* out = &vertices_[6 * i];
        out[0] = corner(halfWidth, -halfHeight, uR, vB);
        out[1] = corner(-halfWidth, -halfHeight, uL, vB);
        out[2] = corner(halfWidth, halfHeight, uR, vT);
        out[3] = out[2];
        out[4] = out[1];
        out[5] = corner(-halfWidth, halfHeight, uL, vT);
    }
}

void ParticleEmitter::draw(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (!enabled_ || graphics == nullptr || shader == nullptr || vertices_.empty()) {
        return;
    }
    shader->use(Graphics::StandardShader::kColor);
    shader->setPVM(graphics->projectionView());
    texture_.bind(GL_TEXTURE0);
    shader->setColor(color_);
    graphics->setBlend(true);
    auto const base = reinterpret_cast<std::uintptr_t>(vertices_.data());
    shader->setVertexAttribute(0, 0, base, sizeof(Vertex), 3, GL_FLOAT);
    shader->setVertexAttribute(0, 1, base + 3 * sizeof(float), sizeof(Vertex), 2, GL_FLOAT);
    shader->drawArrays(GL_TRIANGLES, 0, GLsizei(vertices_.size()));
}
