#pragma once
// A particle liquid: level signals fill its polygon with one particle group, refill and drain it.
#include <box2d/b2_polygon_shape.h>

#include "level/PristineLevel.h"
#include "physics/particles/PhysicsWorld.h"

class ParticleLiquid {
public:
    ParticleLiquid(PhysicsWorld& physics, PristineLevel::ParticleLiquid const& record);
    ParticleLiquid(ParticleLiquid const& other);
    ParticleLiquid& operator=(ParticleLiquid const&) = delete;

    // Fills the shape when no group exists.
    void create();
    // Empties it and fills it again.
    void refill();
    void drain();
    ParticleGroup* group() const { return group_; }

private:
    PhysicsWorld* physics_;
    b2PolygonShape shape_;
    ParticleGroupDef def_;
    ParticleGroup* group_ = nullptr;
};
