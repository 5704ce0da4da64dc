#pragma once
// The level's physics world: the Box2D world and the particle liquids that step with it. The
// installed Box2D has no particle hooks, so the particle operations live here.
#include <box2d/b2_math.h>
#include <box2d/b2_world.h>

#include <cstdint>
#include <vector>

class PhysicsWorld {
public:
    explicit PhysicsWorld(b2Vec2 gravity);
    PhysicsWorld(const PhysicsWorld&) = delete;
    PhysicsWorld& operator=(const PhysicsWorld&) = delete;

    b2World& box2d() { return world_; }
    const b2World& box2d() const { return world_; }

    // One step of the rigid bodies (and, once the solver is in, of the particles with them).
    void Step(float dt, std::int32_t velocityIterations, std::int32_t positionIterations);

    // Particle parameters, set once by the level from its meta data.
    void SetParticleMaxCount(std::uint32_t count) { maxCount_ = count; }  // 0: no limit
    void SetParticleDensity(float density) { density_ = density; }
    void SetParticleGravityScale(float scale) { gravityScale_ = scale; }
    void SetParticleDamping(float damping) { damping_ = damping; }
    void SetParticleRadius(float radius) { radius_ = radius; }
    void SetParticleCollisionMask(std::uint16_t mask) { collisionMask_ = mask; }

    std::uint32_t GetParticleMaxCount() const { return maxCount_; }
    float GetParticleDensity() const { return density_; }
    float GetParticleGravityScale() const { return gravityScale_; }
    float GetParticleDamping() const { return damping_; }
    float GetParticleRadius() const { return radius_; }
    std::uint16_t GetParticleCollisionMask() const { return collisionMask_; }

    // Adds one particle at `position`; its index, or -1 when the maximum count is reached.
    std::int32_t CreateParticle(b2Vec2 position);
    // Positions of all particles, contiguous; the address changes when the buffer grows.
    const b2Vec2* GetParticlePositionBuffer() const { return positions_.data(); }
    std::int32_t GetParticleCount() const { return std::int32_t(positions_.size()); }

private:
    b2World world_;
    std::uint32_t maxCount_ = 0;
    float density_ = 1.0f;
    float gravityScale_ = 1.0f;
    float damping_ = 1.0f;
    float radius_ = 0.5f;
    std::uint16_t collisionMask_ = 0xFFFF;
    std::vector<b2Vec2> positions_;
};
