#pragma once
#include <box2d/b2_math.h>

#include <cstdint>

#include "physics/particles/ParticleColor.h"

class b2Shape;

// A group of particles filling a shape with a square lattice.
struct ParticleGroupDef {
    std::uint32_t flags = 0;  // given to every particle of the group
    std::uint32_t groupFlags = 0;
    b2Vec2 position{0.0f, 0.0f};
    float angle = 0.0f;
    b2Vec2 linearVelocity{0.0f, 0.0f};
    float angularVelocity = 0.0f;
    ParticleColor color;
    float strength = 1.0f;  // scales the group's spring and elastic forces
    const b2Shape* shape = nullptr;  // null: an empty group
    // Level records do not store it, and their liquids expect an emptied group to go.
    bool destroyAutomatically = true;
    void* userData = nullptr;
};
