#include "world/BuildJoint.h"

#include <box2d/b2_body.h>
#include <box2d/b2_world.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "physics/particles/Box2DAdapter.h"
#include "world/DynamicBody.h"

b2Joint* buildJoint(b2World& world, PristineLevel::JointVariant const& record, b2Body* ground,
                    std::vector<b2Body*> const& bodies, std::vector<b2Joint*> const& built) {
    return Box2DAdapter::createJoint(world, record, ground, bodies, built);
}

b2Body* levelBody(CulledVector<DynamicBody, DynamicBody*> const& bodies, int64_t index, b2Body* ground) {
    if (index == -1 || index == int64_t(PristineLevel::staticBodyIndexU)) {
        return ground;
    }
    if (index < 0 || uint64_t(index) >= bodies.size()) {
        return nullptr;
    }
    return bodies[std::size_t(index)].getBody();
}

b2RevoluteJoint* createHinge(b2World& world, b2Body* a, b2Body* b, b2RevoluteJointDef def, char const* who) {
    auto const refuse = [who](char const* why) -> b2RevoluteJoint* {
        std::fprintf(stderr, "%s: hinge not built: %s\n", who, why);
        return nullptr;
    };
    if (a == nullptr || b == nullptr) {
        return refuse("body index names no body");
    }
    if (a == b) {
        return refuse("both ends on one body");
    }
    if (world.IsLocked()) {
        return refuse("the world is stepping");
    }
    for (float v : {def.lowerAngle, def.upperAngle, def.motorSpeed, def.maxMotorTorque}) {
        if (!std::isfinite(v)) {
            return refuse("value not finite");
        }
    }
    def.Initialize(a, b, a->GetPosition());
    if (def.lowerAngle > def.upperAngle) {
        std::swap(def.lowerAngle, def.upperAngle);
    }
    def.maxMotorTorque = std::max(def.maxMotorTorque, 0.0f);
    return static_cast<b2RevoluteJoint*>(world.CreateJoint(&def));
}
