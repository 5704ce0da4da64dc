#pragma once
// The two ropes of a pulley joint, each from its body anchor up to its ground anchor.
#include <vector>

#include "graphics/QuadInstance.h"
#include "level/PristineLevel.h"
#include "world/RopeSprite.h"

class b2PulleyJoint;

class PulleyRopeSprite {
public:
    // The joint must be a pulley by its level record; anything else draws nothing (logged).
    PulleyRopeSprite(PristineLevel::MeshSet const& meshSet, DrawList* drawList, std::vector<b2Joint*> const& joints,
                     std::vector<PristineLevel::JointRecord> const& records,
                     PristineLevel::JointSpritePair const& record, Graphics::Context* graphics = nullptr);

    void update(float dt = 0.0f);
    void draw();
    QuadInstance const& ropeA() const { return ropeA_; }
    QuadInstance const& ropeB() const { return ropeB_; }

private:
    QuadInstance ropeA_;
    QuadInstance ropeB_;
    b2PulleyJoint* joint_ = nullptr;
    RopeStrip strip_;
    Graphics::Context* graphics_;
};
