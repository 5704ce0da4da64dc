#include "physics/particles/PhysicsWorld.h"

#include <box2d/b2_shape.h>

#include <cmath>

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

PhysicsWorld::PhysicsWorld(b2Vec2 gravity) : world_(gravity) {
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
    if (!positions_.empty() && dt > 0.0f) {
        solveParticles(step);
    }
    for (b2Body* body = world_.GetBodyList(); body != nullptr; body = body->GetNext()) {
        previous_[body] = body->GetTransform();
    }
    world_.Step(dt, velocityIterations, positionIterations);
}

void PhysicsWorld::solveParticles(const b2TimeStep& step) {
    (void)step;
    bodyContacts_.clear();
    removeZombies();
}

void PhysicsWorld::removeZombies() {
    std::int32_t const count = GetParticleCount();
    newIndices_.resize(std::size_t(count));
    std::int32_t kept = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        if ((flags_[std::size_t(i)] & zombieParticle) != 0) {
            if (destructionListener_ != nullptr && (flags_[std::size_t(i)] & destructionListenerParticle) != 0) {
                destructionListener_->SayGoodbye(i);
            }
            newIndices_[std::size_t(i)] = -1;
            continue;
        }
        newIndices_[std::size_t(i)] = kept;
        if (kept != i) {
            positions_[std::size_t(kept)] = positions_[std::size_t(i)];
            velocities_[std::size_t(kept)] = velocities_[std::size_t(i)];
            flags_[std::size_t(kept)] = flags_[std::size_t(i)];
            particleGroups_[std::size_t(kept)] = particleGroups_[std::size_t(i)];
        }
        ++kept;
    }
    if (kept == count) {
        return;
    }
    positions_.resize(std::size_t(kept));
    velocities_.resize(std::size_t(kept));
    flags_.resize(std::size_t(kept));
    particleGroups_.resize(std::size_t(kept));
    for (auto it = groups_.begin(); it != groups_.end();) {
        // The new range runs from the first surviving particle to just after the last one.
        std::int32_t first = kept;
        std::int32_t last = 0;
        for (std::int32_t i = it->firstIndex_; i < it->lastIndex_; ++i) {
            std::int32_t const n = newIndices_[std::size_t(i)];
            if (n >= 0) {
                first = std::min(first, n);
                last = std::max(last, n + 1);
            }
        }
        if (first < last) {
            it->firstIndex_ = first;
            it->lastIndex_ = last;
            ++it;
            continue;
        }
        // Emptied: keep its place in the index order, or go.
        std::int32_t position = 0;
        for (std::int32_t i = 0; i < it->firstIndex_ && i < count; ++i) {
            position += newIndices_[std::size_t(i)] >= 0 ? 1 : 0;
        }
        it->firstIndex_ = it->lastIndex_ = position;
        if (it->destroyAutomatically_) {
            if (destructionListener_ != nullptr) {
                destructionListener_->SayGoodbye(&*it);
            }
            it = groups_.erase(it);
        } else {
            ++it;
        }
    }
}

void PhysicsWorld::QueryAABB(QueryCallback* callback, const b2AABB& aabb) const {
    if (callback == nullptr) {
        return;
    }
    world_.QueryAABB(callback, aabb);
    std::int32_t const count = GetParticleCount();
    for (std::int32_t i = 0; i < count; ++i) {
        b2Vec2 const p = positions_[std::size_t(i)];
        if (aabb.lowerBound.x <= p.x && p.x <= aabb.upperBound.x && aabb.lowerBound.y <= p.y &&
            p.y <= aabb.upperBound.y && !callback->ReportParticle(i)) {
            break;
        }
    }
}

std::int32_t PhysicsWorld::CreateParticle(b2Vec2 position, std::uint32_t flags, b2Vec2 velocity) {
    if (IsLocked() || (maxCount_ != 0 && positions_.size() >= maxCount_)) {
        return -1;
    }
    positions_.push_back(position);
    velocities_.push_back(velocity);
    flags_.push_back(flags);
    particleGroups_.push_back(nullptr);
    return GetParticleCount() - 1;
}

ParticleGroup* PhysicsWorld::CreateParticleGroup(const ParticleGroupDef& def) {
    if (IsLocked()) {
        return nullptr;
    }
    float const stride = 0.75f * 2.0f * radius_;
    std::int32_t const first = GetParticleCount();
    b2Transform transform;
    transform.SetIdentity();
    if (def.shape != nullptr && std::isfinite(stride) && stride > 0.0f) {
        transform.Set(def.position, def.angle);
        b2Transform identity;
        identity.SetIdentity();
        b2AABB box;
        def.shape->ComputeAABB(&box, identity, 0);
        for (std::int32_t child = 1; child < def.shape->GetChildCount(); ++child) {
            b2AABB childBox;
            def.shape->ComputeAABB(&childBox, identity, child);
            box.Combine(childBox);
        }
        // A shape that would give an absurd lattice is a damaged record, not a liquid.
        float const cells = ((box.upperBound.x - box.lowerBound.x) / stride) * ((box.upperBound.y - box.lowerBound.y) / stride);
        if (box.IsValid() && cells < 1.0e7f) {
            for (float y = std::floor(box.lowerBound.y / stride) * stride; y < box.upperBound.y; y += stride) {
                for (float x = std::floor(box.lowerBound.x / stride) * stride; x < box.upperBound.x; x += stride) {
                    b2Vec2 const local(x, y);
                    if (!def.shape->TestPoint(identity, local)) {
                        continue;
                    }
                    b2Vec2 const p = b2Mul(transform, local);
                    b2Vec2 const r = p - def.position;
                    b2Vec2 const v = def.linearVelocity + b2Vec2(-def.angularVelocity * r.y, def.angularVelocity * r.x);
                    CreateParticle(p, def.flags, v);
                }
            }
        }
    }
    groups_.emplace_front();
    ParticleGroup& group = groups_.front();
    group.firstIndex_ = first;
    group.lastIndex_ = GetParticleCount();
    group.groupFlags_ = def.groupFlags;
    group.strength_ = def.strength;
    group.userData_ = def.userData;
    group.transform_ = transform;
    group.destroyAutomatically_ = def.destroyAutomatically;
    for (std::int32_t i = group.firstIndex_; i < group.lastIndex_; ++i) {
        particleGroups_[std::size_t(i)] = &group;
    }
    return &group;
}

void PhysicsWorld::DestroyParticlesInGroup(ParticleGroup* group, bool callDestructionListener) {
    if (group == nullptr || IsLocked()) {
        return;
    }
    std::uint32_t const mark = callDestructionListener ? zombieParticle | destructionListenerParticle : zombieParticle;
    for (std::int32_t i = group->firstIndex_; i < group->lastIndex_ && i < GetParticleCount(); ++i) {
        flags_[std::size_t(i)] |= mark;
    }
}
