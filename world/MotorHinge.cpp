#include "world/MotorHinge.h"

#include <box2d/b2_revolute_joint.h>

#include <cmath>
#include <cstdio>

#include "world/BuildJoint.h"
#include "world/DynamicBody.h"

MotorHinge::MotorHinge(Audio::Context* audio, CulledVector<DynamicBody, DynamicBody*> const& bodies, b2World& world,
                       b2Body* ground, PristineLevel::MotorHinge const& record)
    : sound_(audio, record.sound) {
    b2Body* a = record.body == PristineLevel::staticBodyIndexU ? nullptr : levelBody(bodies, record.body, ground);
    b2Body* b = levelBody(bodies, record.secondBody, ground);
    if (a == nullptr || !std::isfinite(record.motorSpeed)) {
        std::fprintf(stderr, "MotorHinge: body %u or its speed unusable; not built\n", record.body);
        return;
    }
    b2RevoluteJointDef def;
    def.enableMotor = true;
    joint_ = createHinge(world, a, b, def, "MotorHinge");
    if (joint_ == nullptr) {
        return;
    }
    joint_->SetMotorSpeed(record.motorSpeed);
    joint_->SetMaxMotorTorque(maxTorque);
    sound_.play();
}
