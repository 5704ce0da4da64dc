#pragma once
// The level's physics world: the Box2D world and the particle liquids that step with it. The
// installed Box2D has no particle hooks, so the particle operations, the previous transforms the
// particle collision needs, the locked state around the particle step and the box query that
// also reports particles live here. Body teleports go through SetTransform so that a jump
// carries no particles along.
#include <box2d/b2_body.h>
#include <box2d/b2_math.h>
#include <box2d/b2_time_step.h>
#include <box2d/b2_world.h>
#include <box2d/b2_world_callbacks.h>

#include <cstdint>
#include <unordered_map>

#include "physics/particles/ParticleSystem.h"

class PhysicsWorld : private BodyTransformHistory {
public:
    // A box query's callback: fixtures first (ReportFixture), then particles (ReportParticle).
    using QueryCallback = ParticleQueryCallback;

    explicit PhysicsWorld(b2Vec2 gravity);
    PhysicsWorld(const PhysicsWorld&) = delete;
    PhysicsWorld& operator=(const PhysicsWorld&) = delete;

    b2World& box2d() { return world_; }
    const b2World& box2d() const { return world_; }

    // Bodies made here get their previous transform recorded. Null while locked.
    b2Body* CreateBody(const b2BodyDef& def);
    void DestroyBody(b2Body* body);
    // A teleport: the body's transform and its previous transform both become the new one.
    void SetTransform(b2Body* body, b2Vec2 position, float angle);
    // The body's transform at the start of the last step's rigid-body solve (or its teleport).
    b2Transform GetPreviousTransform(const b2Body* body) const override;

    // One world step: the particle step first (when there are particles and dt > 0), then every
    // body's transform is saved as its previous one, then the rigid bodies.
    void Step(float dt, std::int32_t velocityIterations, std::int32_t positionIterations);
    // Inside a step, ours or Box2D's.
    bool IsLocked() const { return locked_ || world_.IsLocked(); }

    // Fixtures whose broad-phase boxes overlap, then the particles inside the box, each part
    // ended by its callback returning false; the particles are reported even when the fixture
    // part ended early.
    void QueryAABB(QueryCallback* callback, const b2AABB& aabb) const;

    void SetParticleDestructionListener(ParticleDestructionListener* listener) {
        particles_.SetDestructionListener(listener);
    }

    // Particle parameters, set once by the level from its meta data. A radius or density that is
    // not a positive number keeps the one before, with a log line.
    void SetParticleMaxCount(std::uint32_t count);  // 0: no limit
    void SetParticleDensity(float density);
    void SetParticleGravityScale(float scale);
    void SetParticleDamping(float damping);
    void SetParticleRadius(float radius);
    void SetParticleCollisionMask(std::uint16_t mask) { particles_.SetCollisionMask(mask); }

    std::uint32_t GetParticleMaxCount() const { return maxCount_; }
    float GetParticleDensity() const { return particles_.GetDensity(); }
    float GetParticleGravityScale() const { return particles_.GetGravityScale(); }
    float GetParticleDamping() const { return particles_.GetDamping(); }
    float GetParticleRadius() const { return particles_.GetRadius(); }
    std::uint16_t GetParticleCollisionMask() const { return particles_.GetCollisionMask(); }

    // Adds one particle; its index, or -1 when the maximum count is reached or the world is
    // stepping.
    std::int32_t CreateParticle(const ParticleDef& def);
    // Fills the definition's shape with a square lattice of particles. Null while locked.
    ParticleGroup* CreateParticleGroup(const ParticleGroupDef& def);
    // Marks the group's particles for removal at the next step; ignored while locked.
    void DestroyParticlesInGroup(ParticleGroup* group, bool callDestructionListener);
    std::int32_t GetParticleGroupCount() const { return particles_.GetGroupCount(); }

    // Positions of all particles, contiguous; the address changes when the buffers grow.
    const b2Vec2* GetParticlePositionBuffer() const { return particles_.GetPositionBuffer(); }
    const std::uint32_t* GetParticleFlagsBuffer() const { return particles_.GetFlagsBuffer(); }
    std::int32_t GetParticleCount() const { return particles_.GetParticleCount(); }

    // The particles touching fixtures in the last step.
    const ParticleBodyContact* GetParticleBodyContacts() const { return particles_.GetBodyContacts(); }
    std::int32_t GetParticleBodyContactCount() const { return particles_.GetBodyContactCount(); }

    ParticleSystem& particles() { return particles_; }
    const ParticleSystem& particles() const { return particles_; }

private:
    class LockedScope;

    b2World world_;
    bool locked_ = false;
    std::unordered_map<const b2Body*, b2Transform> previous_;
    std::uint32_t maxCount_ = 0;
    ParticleSystem particles_;
    float previousInvDt_ = 0.0f;
};
