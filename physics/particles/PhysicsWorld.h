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
#include <list>
#include <unordered_map>
#include <vector>

#include "level/LevelObjects.h"

class b2Shape;
class ParticleGroup;
class PhysicsWorld;

// Particle flags.
inline constexpr std::uint32_t zombieParticle = 2;
inline constexpr std::uint32_t destructionListenerParticle = 512;

struct ParticleGroupDef {
    std::uint32_t flags = 0;  // given to every particle of the group
    std::uint32_t groupFlags = 0;
    b2Vec2 position{0.0f, 0.0f};
    float angle = 0.0f;
    b2Vec2 linearVelocity{0.0f, 0.0f};
    float angularVelocity = 0.0f;
    PristineLevel::ParticleColor color;
    float strength = 1.0f;
    const b2Shape* shape = nullptr;  // null: an empty group
    bool destroyAutomatically = true;
    void* userData = nullptr;
};

// A contiguous range of particles made together; owned by the physics world.
class ParticleGroup {
public:
    std::int32_t GetBufferIndex() const { return firstIndex_; }
    std::int32_t GetParticleCount() const { return lastIndex_ - firstIndex_; }
    std::uint32_t GetGroupFlags() const { return groupFlags_; }
    void* GetUserData() const { return userData_; }

private:
    friend class PhysicsWorld;
    std::int32_t firstIndex_ = 0;
    std::int32_t lastIndex_ = 0;
    std::uint32_t groupFlags_ = 0;
    float strength_ = 1.0f;
    b2Transform transform_;
    bool destroyAutomatically_ = true;
    void* userData_ = nullptr;
};

// A particle touching a fixture's body in the last step.
struct ParticleBodyContact {
    std::int32_t index = 0;
    b2Body* body = nullptr;
    float weight = 0.0f;
    b2Vec2 normal{0.0f, 0.0f};  // from the particle toward the fixture
    float mass = 0.0f;
};

// Told of removed particles that carry the destruction-listener flag, and of destroyed groups.
class ParticleDestructionListener {
public:
    virtual ~ParticleDestructionListener() = default;
    virtual void SayGoodbye(std::int32_t index) { (void)index; }
    virtual void SayGoodbye(ParticleGroup* group) { (void)group; }
};

class PhysicsWorld {
public:
    // A box query's callback: fixtures first (ReportFixture), then particles.
    class QueryCallback : public b2QueryCallback {
    public:
        // False ends the query. A callback that does not look at particles keeps the default.
        virtual bool ReportParticle(std::int32_t index) {
            (void)index;
            return false;
        }
    };

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
    b2Transform GetPreviousTransform(const b2Body* body) const;

    // One world step: the particle step first (when there are particles and dt > 0), then every
    // body's transform is saved as its previous one, then the rigid bodies.
    void Step(float dt, std::int32_t velocityIterations, std::int32_t positionIterations);
    // Inside a step, ours or Box2D's.
    bool IsLocked() const { return locked_ || world_.IsLocked(); }

    // Fixtures whose broad-phase boxes overlap, then the particles inside the box, each part
    // ended by its callback returning false; the particles are reported even when the fixture
    // part ended early.
    void QueryAABB(QueryCallback* callback, const b2AABB& aabb) const;

    void SetParticleDestructionListener(ParticleDestructionListener* listener) { destructionListener_ = listener; }

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

    // Adds one particle at `position`; its index, or -1 when the maximum count is reached or the
    // world is stepping.
    std::int32_t CreateParticle(b2Vec2 position, std::uint32_t flags = 0, b2Vec2 velocity = b2Vec2(0.0f, 0.0f));
    // Fills the definition's shape with a square lattice of particles. Null while locked.
    ParticleGroup* CreateParticleGroup(const ParticleGroupDef& def);
    // Marks the group's particles for removal at the next step; ignored while locked.
    void DestroyParticlesInGroup(ParticleGroup* group, bool callDestructionListener);
    std::int32_t GetParticleGroupCount() const { return std::int32_t(groups_.size()); }

    // Positions of all particles, contiguous; the address changes when the buffer grows.
    const b2Vec2* GetParticlePositionBuffer() const { return positions_.data(); }
    const std::uint32_t* GetParticleFlagsBuffer() const { return flags_.data(); }
    std::int32_t GetParticleCount() const { return std::int32_t(positions_.size()); }

    const ParticleBodyContact* GetParticleBodyContacts() const { return bodyContacts_.data(); }
    std::int32_t GetParticleBodyContactCount() const { return std::int32_t(bodyContacts_.size()); }

private:
    class LockedScope;
    void solveParticles(const b2TimeStep& step);
    void removeZombies();

    b2World world_;
    bool locked_ = false;
    std::unordered_map<const b2Body*, b2Transform> previous_;
    ParticleDestructionListener* destructionListener_ = nullptr;
    std::uint32_t maxCount_ = 0;
    float density_ = 1.0f;
    float gravityScale_ = 1.0f;
    float damping_ = 1.0f;
    float radius_ = 0.5f;
    std::uint16_t collisionMask_ = 0xFFFF;
    std::vector<b2Vec2> positions_;
    std::vector<b2Vec2> velocities_;
    std::vector<std::uint32_t> flags_;
    std::vector<ParticleGroup*> particleGroups_;
    std::vector<std::int32_t> newIndices_;  // scratch of the zombie removal
    std::list<ParticleGroup> groups_;
    std::vector<ParticleBodyContact> bodyContacts_;
    float previousInvDt_ = 0.0f;
};
