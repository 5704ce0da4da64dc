#pragma once
// A particle liquid: level signals fill its polygon with one particle group, refill and drain it.
#include <box2d/b2_polygon_shape.h>

#include <vector>

#include "level/PristineLevel.h"
#include "physics/particles/PhysicsWorld.h"

class ParticleLiquid {
public:
    ParticleLiquid(PhysicsWorld& physics, PristineLevel::ParticleLiquid const& record);
    ParticleLiquid(ParticleLiquid const& other);
    ParticleLiquid& operator=(ParticleLiquid const&) = delete;

    // Fills the shape when no group exists. A liquid without a polygon never pours.
    void create();
    // Empties it and fills it again; the old particles' room counts as free for the new ones.
    void refill();
    void drain();
    ParticleGroup* group() const { return group_; }
    // The solver freed the group (it emptied); forget it so nothing touches freed memory.
    void forgetGroup(ParticleGroup const* group) {
        if (group_ == group) {
            group_ = nullptr;
        }
    }

private:
    PhysicsWorld* physics_;
    b2PolygonShape shape_;
    ParticleGroupDef def_;
    ParticleGroup* group_ = nullptr;
};

// Hears of the groups the solver frees and clears the liquid that held one. Registered with the
// physics world for as long as it lives; the liquids must not move while it does.
class ParticleLiquidGroups : public ParticleDestructionListener {
public:
    ParticleLiquidGroups(PhysicsWorld& physics, std::vector<ParticleLiquid>& liquids);
    ~ParticleLiquidGroups() override;
    ParticleLiquidGroups(ParticleLiquidGroups const&) = delete;
    ParticleLiquidGroups& operator=(ParticleLiquidGroups const&) = delete;

    void SayGoodbye(ParticleGroup* group) override;

private:
    PhysicsWorld* physics_;
    std::vector<ParticleLiquid>* liquids_;
};
