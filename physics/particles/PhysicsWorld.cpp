#include "physics/particles/PhysicsWorld.h"

#include "level/TwoSidedChainContact.h"

PhysicsWorld::PhysicsWorld(b2Vec2 gravity) : world_(gravity) {
    // Level chains block from both sides, including chains made without createFixtures.
    TwoSidedChainContact::install();
}

void PhysicsWorld::Step(float dt, std::int32_t velocityIterations, std::int32_t positionIterations) {
    if (world_.IsLocked()) {
        return;  // a step from inside a callback of this step
    }
    world_.Step(dt, velocityIterations, positionIterations);
}

std::int32_t PhysicsWorld::CreateParticle(b2Vec2 position) {
    if (world_.IsLocked() || (maxCount_ != 0 && positions_.size() >= maxCount_)) {
        return -1;
    }
    positions_.push_back(position);
    return GetParticleCount() - 1;
}
