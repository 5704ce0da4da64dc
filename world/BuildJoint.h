#pragma once
// Turning level records into Box2D joints without letting bad level data reach Box2D's asserts.
#include <box2d/b2_revolute_joint.h>

#include <cstdint>
#include <vector>

#include "level/PristineLevel.h"
#include "world/CulledVector.h"

class b2World;
class b2Body;
class b2Joint;
class DynamicBody;

// One level joint record: an index becomes a pointer, only earlier joints can be named, and a
// refusal (logged) gives null.
b2Joint* buildJoint(b2World& world, PristineLevel::JointVariant const& record, b2Body* ground,
                    std::vector<b2Body*> const& bodies, std::vector<b2Joint*> const& built);

// The body of dynamic body `index`, the ground body for -1 (and 0xFFFFFFFF stored unsigned), or
// null when the index names nothing.
b2Body* levelBody(CulledVector<DynamicBody, DynamicBody*> const& bodies, int64_t index, b2Body* ground);

// A hinge anchored at body A's origin: `def` holds the limit and motor settings. Null
// (logged under `who`) when a body is missing, both ends are one body, a value is not finite or
// the world is stepping.
b2RevoluteJoint* createHinge(b2World& world, b2Body* a, b2Body* b, b2RevoluteJointDef def, char const* who);
