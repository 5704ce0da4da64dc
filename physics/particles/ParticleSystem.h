#pragma once
// The particle liquid solver. Particles live in parallel arrays indexed by particle; neighbours
// are found through proxies sorted by a spatial tag (row, then fine column), so no tree or grid
// is built. It steps inside the physics world's step, between the rigid contacts and the
// rigid-body solve, and pushes the bodies it touches.
#include <box2d/b2_math.h>
#include <box2d/b2_collision.h>
#include <box2d/b2_time_step.h>
#include <box2d/b2_world_callbacks.h>

#include <cstdint>
#include <vector>

#include "physics/particles/ParticleColor.h"
#include "physics/particles/ParticleDef.h"
#include "physics/particles/ParticleGroup.h"
#include "physics/particles/ParticleGroupDef.h"

class b2Body;
class b2Fixture;
class b2World;

struct ParticleContact {
    std::int32_t indexA = 0;
    std::int32_t indexB = 0;
    std::uint32_t flags = 0;  // both particles' flags
    float weight = 0.0f;      // 1 touching, 0 one diameter apart
    b2Vec2 normal{0.0f, 0.0f};  // from A to B
};

// A particle within one diameter of a fixture of `body` in the last step.
struct ParticleBodyContact {
    std::int32_t index = 0;
    b2Body* body = nullptr;
    float weight = 0.0f;
    b2Vec2 normal{0.0f, 0.0f};  // from the particle toward the fixture
    float mass = 0.0f;          // effective mass of the pair; 0 when neither side can move
};

// Told of removed particles that carry the destruction-listener flag, and of destroyed groups.
class ParticleDestructionListener {
public:
    virtual ~ParticleDestructionListener() = default;
    virtual void SayGoodbye(std::int32_t index) { (void)index; }
    virtual void SayGoodbye(ParticleGroup* group) { (void)group; }
};

// A world box query's callback: fixtures first (ReportFixture), then particles.
class ParticleQueryCallback : public b2QueryCallback {
public:
    // False ends the query. A callback that does not look at particles keeps the default.
    virtual bool ReportParticle(std::int32_t index) {
        (void)index;
        return false;
    }
};

// Where each body stood at the start of the last rigid-body solve, so particles move with it.
class BodyTransformHistory {
public:
    virtual ~BodyTransformHistory() = default;
    virtual b2Transform GetPreviousTransform(const b2Body* body) const = 0;
};

class ParticleSystem {
public:
    struct Proxy {
        std::int32_t index = 0;
        std::uint32_t tag = 0;
    };
    struct Pair {
        std::int32_t indexA = 0;
        std::int32_t indexB = 0;
        std::uint32_t flags = 0;
        float strength = 0.0f;
        float distance = 0.0f;  // rest length
    };
    struct Triad {
        std::int32_t indexA = 0;
        std::int32_t indexB = 0;
        std::int32_t indexC = 0;
        std::uint32_t flags = 0;
        float strength = 0.0f;
        b2Vec2 pa{0.0f, 0.0f};  // rest positions about the triangle's centroid
        b2Vec2 pb{0.0f, 0.0f};
        b2Vec2 pc{0.0f, 0.0f};
    };

    // `world` answers fixture queries and gives gravity; `history` the bodies' previous
    // transforms (null: bodies are taken as not having moved).
    ParticleSystem(b2World* world, const BodyTransformHistory* history);
    ~ParticleSystem();
    ParticleSystem(const ParticleSystem&) = delete;
    ParticleSystem& operator=(const ParticleSystem&) = delete;

    // The caller keeps these positive and finite.
    void SetMaxCount(std::int32_t count) { maxCount_ = count < 0 ? 0 : count; }
    void SetDensity(float density);
    void SetGravityScale(float scale) { gravityScale_ = scale; }
    void SetDamping(float damping) { dampingStrength_ = damping; }
    void SetRadius(float radius);
    void SetCollisionMask(std::uint16_t mask) { collisionMask_ = mask; }
    void SetDestructionListener(ParticleDestructionListener* listener) { destructionListener_ = listener; }

    std::int32_t GetMaxCount() const { return maxCount_; }
    float GetDensity() const { return density_; }
    float GetGravityScale() const { return gravityScale_; }
    float GetDamping() const { return dampingStrength_; }
    float GetRadius() const { return 0.5f * particleDiameter_; }
    std::uint16_t GetCollisionMask() const { return collisionMask_; }
    float GetParticleStride() const { return 0.75f * particleDiameter_; }
    float GetParticleMass() const;
    float GetParticleInvMass() const;

    // Index of the new particle, or -1 when the maximum count is reached.
    std::int32_t CreateParticle(const ParticleDef& def);
    ParticleGroup* CreateParticleGroup(const ParticleGroupDef& def);
    // Marks the group's particles for removal at the next step.
    void DestroyParticlesInGroup(ParticleGroup* group, bool callDestructionListener);

    void Solve(const b2TimeStep& step);
    // Reports the particles strictly inside the box until the callback returns false.
    void QueryAABB(ParticleQueryCallback* callback, const b2AABB& aabb) const;

    std::int32_t GetParticleCount() const { return count_; }
    // A particle joined to its neighbours (elastic or spring) or of a solid or rigid group: part
    // of a body that keeps its shape, not of a liquid. False for an index out of range.
    bool HoldsShape(std::int32_t index) const;
    std::int32_t GetCapacity() const { return capacity_; }
    const b2Vec2* GetPositionBuffer() const { return position_.data(); }
    b2Vec2* GetPositionBuffer() { return position_.data(); }
    b2Vec2* GetVelocityBuffer() { return velocity_.data(); }
    const b2Vec2* GetVelocityBuffer() const { return velocity_.data(); }
    const std::uint32_t* GetFlagsBuffer() const { return flags_.data(); }
    std::uint32_t* GetFlagsBuffer() { return flags_.data(); }
    // Null until a particle needs them.
    const ParticleColor* GetColorBuffer() const { return color_.empty() ? nullptr : color_.data(); }
    void* const* GetUserDataBuffer() const { return userData_.empty() ? nullptr : userData_.data(); }
    const float* GetDepthBuffer() const { return depth_.empty() ? nullptr : depth_.data(); }
    ParticleGroup* const* GetGroupBuffer() const { return group_.data(); }

    const ParticleContact* GetContacts() const { return contacts_.data(); }
    std::int32_t GetContactCount() const { return std::int32_t(contacts_.size()); }
    const ParticleBodyContact* GetBodyContacts() const { return bodyContacts_.data(); }
    std::int32_t GetBodyContactCount() const { return std::int32_t(bodyContacts_.size()); }
    const Pair* GetPairs() const { return pairs_.data(); }
    std::int32_t GetPairCount() const { return std::int32_t(pairs_.size()); }
    const Triad* GetTriads() const { return triads_.data(); }
    std::int32_t GetTriadCount() const { return std::int32_t(triads_.size()); }
    const Proxy* GetProxies() const { return proxies_.data(); }
    std::int32_t GetProxyCount() const { return std::int32_t(proxies_.size()); }
    ParticleGroup* GetGroupList() const { return groupList_; }
    std::int32_t GetGroupCount() const { return groupCount_; }
    std::int32_t GetTimestamp() const { return timestamp_; }

    // The 32-bit spatial tag of a point: the row in the top 12 bits, 1/256-diameter columns in
    // the low 20, each saturating at its ends and the sum wrapping.
    std::uint32_t ComputeTag(float x, float y) const;
    // Rebuilds the tags, their order and the particle contacts.
    void UpdateContacts(bool exceptZombie);

    // Passes of Solve, public for the benchmarks that time them one by one.
    void SolveZombie();
    void SolveCollision(const b2TimeStep& step);
    void SolveRigid(const b2TimeStep& step);
    void SolveWall();
    void UpdateBodyContacts();
    void SolveViscous();
    void SolvePowder(const b2TimeStep& step);
    void SolveTensile(const b2TimeStep& step);
    void SolveElastic(const b2TimeStep& step);
    void SolveSpring(const b2TimeStep& step);
    void SolveSolid(const b2TimeStep& step);
    void SolveColorMixing();
    void SolvePressure(const b2TimeStep& step);
    void SolveDamping();

    // Contacts found by testing every pair of particles: the yardstick of the tests and the
    // benchmarks. With the switch on, every contact update of the step finds them so.
    void UpdateContactsBruteForce();
    void SetBruteForceContacts(bool on) { bruteForceContacts_ = on; }

private:
    friend class ParticleGroup;
    class CollisionCallback;
    class BodyContactsCallback;

    void growParticleBuffers();
    void scanContacts();
    void addContact(std::int32_t a, std::int32_t b);
    void computeDepthForGroup(ParticleGroup* group);
    void createTriads(std::int32_t first, std::int32_t last, const ParticleGroupDef& def);
    void collideFixture(b2Fixture* fixture, std::int32_t child, const b2TimeStep& step);
    void bodyContactsFixture(b2Fixture* fixture, std::int32_t child);
    b2Transform previousTransform(const b2Body* body) const;
    void destroyGroup(ParticleGroup* group);
    // Sorted proxies from tag(lower) to tag(upper), by binary search.
    void tagRange(b2Vec2 lower, b2Vec2 upper, const Proxy** first, const Proxy** last) const;

    b2World* world_;
    const BodyTransformHistory* history_;
    ParticleDestructionListener* destructionListener_ = nullptr;

    std::int32_t timestamp_ = 0;
    std::uint32_t allParticleFlags_ = 0;
    std::uint32_t allGroupFlags_ = 0;
    float density_ = 1.0f;
    float inverseDensity_ = 1.0f;
    float gravityScale_ = 1.0f;
    float particleDiameter_ = 1.0f;
    float inverseDiameter_ = 1.0f;
    float squaredDiameter_ = 1.0f;
    std::int32_t count_ = 0;
    std::int32_t capacity_ = 0;
    std::int32_t maxCount_ = 0;

    std::vector<std::uint32_t> flags_;
    std::vector<b2Vec2> position_;
    std::vector<b2Vec2> velocity_;
    std::vector<float> accumulation_;
    std::vector<b2Vec2> accumulation2_;  // empty until first needed, like the three below
    std::vector<float> depth_;
    std::vector<ParticleColor> color_;
    std::vector<ParticleGroup*> group_;
    std::vector<void*> userData_;

    std::vector<Proxy> proxies_;
    bool proxiesSorted_ = true;  // false after a lone particle was added since the last sort
    std::vector<ParticleContact> contacts_;
    std::vector<ParticleBodyContact> bodyContacts_;
    std::vector<Pair> pairs_;
    std::vector<Triad> triads_;
    std::vector<std::int32_t> indexMap_;  // scratch of the zombie pass

    std::int32_t groupCount_ = 0;
    ParticleGroup* groupList_ = nullptr;
    bool loggedFarGroup_ = false;
    bool bruteForceContacts_ = false;

    float pressureStrength_ = 0.05f;
    float dampingStrength_ = 1.0f;
    float elasticStrength_ = 0.25f;
    float springStrength_ = 0.25f;
    float viscousStrength_ = 0.25f;
    float surfaceTensionStrengthA_ = 0.1f;
    float surfaceTensionStrengthB_ = 0.2f;
    float powderStrength_ = 0.5f;
    float ejectionStrength_ = 0.5f;
    float colorMixingStrength_ = 0.5f;
    std::uint16_t collisionMask_ = 0xFFFF;
};
