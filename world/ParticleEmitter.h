#pragma once
// Sprite particles drifting in a box: each sprite moves, spins and plays its sheet frames, and is
// born again inside its spawn range when it leaves the box. Purely visual; one draw call.
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include "graphics/DrawList.h"
#include "graphics/Texture.h"
#include "level/PristineLevel.h"

namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

class ParticleEmitter {
public:
    struct Particle {
        glm::vec3 position{0.0f};
        std::uint64_t startFrame = 0;
        std::uint64_t currentFrame = 0;
        float angle = 0.0f;            // degrees
        float angularVelocity = 0.0f;  // degrees per second
        glm::vec3 velocity{0.0f};
    };
    struct Vertex {
        float x, y, z, u, v;
    };

    // `seed` replaces the clock's, for runs that must repeat.
    ParticleEmitter(Graphics::Context* graphics, PristineLevel::ParticleEmitter const& record, DrawList* drawList,
                    std::optional<std::uint32_t> seed = std::nullopt);

    // Moves, animates and respawns the sprites, and rebuilds their vertices; only while the
    // emitter's drawable was visible at the last cull.
    void update(float dtMs, float timeMs, DrawList const* drawList);
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader);

    // A sheet without frames, columns or rows cannot play: such an emitter does nothing.
    bool enabled() const { return enabled_; }
    std::vector<Particle> const& particles() const { return particles_; }
    std::vector<Vertex> const& vertices() const { return vertices_; }

private:
    // A uniform float over [a, b] from one draw of the generator.
    float uniform(float a, float b);
    void spawn(Particle& particle);

    DrawList::Handle const* handle_ = nullptr;
    glm::vec3 boxMin_{0.0f};
    glm::vec3 boxMax_{0.0f};
    std::uint64_t rows_ = 0;
    std::uint64_t columns_ = 0;
    std::uint64_t frameCount_ = 0;
    float uvWidth_ = 0.0f;
    float uvHeight_ = 0.0f;
    Graphics::Texture texture_;
    float fps_ = 0.0f;
    float scale_ = 0.0f;
    glm::vec4 color_{0.0f};
    std::vector<Particle> particles_;
    std::vector<Vertex> vertices_;
    std::minstd_rand random_;
    std::piecewise_constant_distribution<float> spawnX_;
    std::piecewise_constant_distribution<float> spawnY_;
    std::piecewise_constant_distribution<float> spawnZ_;
    glm::vec3 velocityMin_{0.0f};
    glm::vec3 velocityMax_{0.0f};
    float angleMin_ = 0.0f;
    float angleMax_ = 0.0f;
    float angularVelocityMin_ = 0.0f;
    float angularVelocityMax_ = 0.0f;
    std::uniform_int_distribution<int> startFrame_;
    bool enabled_ = false;
};
