#include "physics/particles/PhysicsWorld.h"

#include <box2d/b2_shape.h>

#include <cmath>
#include <cstdio>

#include "level/TwoSidedChainContact.h"

class PhysicsWorld::LockedScope {
public:
    explicit LockedScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~LockedScope() { flag_ = false; }
    LockedScope(const LockedScope&) = delete;
    LockedScope& operator=(const LockedScope&) = delete;

private:
    bool& flag_;
};

PhysicsWorld::PhysicsWorld(b2Vec2 gravity) : world_(gravity), particles_(&world_, this) {
    // Level chains block from both sides, including chains made without createFixtures.
    TwoSidedChainContact::install();
}

b2Body* PhysicsWorld::CreateBody(const b2BodyDef& def) {
    if (IsLocked()) {
        return nullptr;
    }
    b2Body* body = world_.CreateBody(&def);
    previous_[body] = body->GetTransform();
    return body;
}

void PhysicsWorld::DestroyBody(b2Body* body) {
    if (body == nullptr || IsLocked()) {
        return;
    }
    previous_.erase(body);
    world_.DestroyBody(body);
}

void PhysicsWorld::SetTransform(b2Body* body, b2Vec2 position, float angle) {
    if (body == nullptr) {
        return;
    }
    body->SetTransform(position, angle);
    previous_[body] = body->GetTransform();
}

b2Transform PhysicsWorld::GetPreviousTransform(const b2Body* body) const {
    auto const it = previous_.find(body);
    return it != previous_.end() ? it->second : body->GetTransform();
}

void PhysicsWorld::Step(float dt, std::int32_t velocityIterations, std::int32_t positionIterations) {
    if (IsLocked()) {
        return;  // a step from inside a callback of this step
    }
    LockedScope const locked(locked_);
    b2TimeStep step;
    step.dt = dt;
    step.inv_dt = dt > 0.0f ? 1.0f / dt : 0.0f;
    step.dtRatio = previousInvDt_ * dt;
    step.velocityIterations = velocityIterations;
    step.positionIterations = positionIterations;
    step.warmStarting = world_.GetWarmStarting();
    if (dt > 0.0f) {
        previousInvDt_ = step.inv_dt;
    }
    if (dt > 0.0f) {
        particles_.Solve(step);
    }
    for (b2Body* body = world_.GetBodyList(); body != nullptr; body = body->GetNext()) {
        previous_[body] = body->GetTransform();
    }
    world_.Step(dt, velocityIterations, positionIterations);
}

void PhysicsWorld::QueryAABB(QueryCallback* callback, const b2AABB& aabb) const {
    if (callback == nullptr) {
        return;
    }
    world_.QueryAABB(callback, aabb);
    particles_.QueryAABB(callback, aabb);
}

namespace {

bool positiveNumber(float value, char const* what) {
    if (std::isfinite(value) && value > 0.0f) {
        return true;
    }
    std::fprintf(stderr, "Particles: a %s of %g is not a positive number; the previous one stays\n", what,
                 double(value));
    return false;
}

}  // namespace

void PhysicsWorld::SetParticleMaxCount(std::uint32_t count) {
    maxCount_ = count;
    // A limit beyond what an index can reach limits nothing.
    particles_.SetMaxCount(count > 0x7FFFFFFFu ? 0 : std::int32_t(count));
}

void PhysicsWorld::SetParticleDensity(float density) {
    if (positiveNumber(density, "particle density")) {
        particles_.SetDensity(density);
    }
}

void PhysicsWorld::SetParticleRadius(float radius) {
    if (positiveNumber(radius, "particle radius")) {
        particles_.SetRadius(radius);
    }
}

void PhysicsWorld::SetParticleGravityScale(float scale) {
    if (std::isfinite(scale)) {
        particles_.SetGravityScale(scale);
    } else {
        std::fprintf(stderr, "Particles: a gravity scale that is not a number; the previous one stays\n");
    }
}

void PhysicsWorld::SetParticleDamping(float damping) {
    if (std::isfinite(damping)) {
        particles_.SetDamping(damping);
    } else {
        std::fprintf(stderr, "Particles: a damping that is not a number; the previous one stays\n");
    }
}

std::int32_t PhysicsWorld::CreateParticle(const ParticleDef& def) {
    return IsLocked() ? -1 : particles_.CreateParticle(def);
}

ParticleGroup* PhysicsWorld::CreateParticleGroup(const ParticleGroupDef& def) {
    return IsLocked() ? nullptr : particles_.CreateParticleGroup(def);
}

void PhysicsWorld::DestroyParticlesInGroup(ParticleGroup* group, bool callDestructionListener) {
    if (!IsLocked()) {
        particles_.DestroyParticlesInGroup(group, callDestructionListener);
    }
}
