#pragma once
// A hinge turned by its motor at a constant speed; it runs by itself once built.
#include "audio/Sound.h"
#include "level/PristineLevel.h"
#include "world/CulledVector.h"

class b2Body;
class b2RevoluteJoint;
class b2World;
class DynamicBody;
namespace Audio {
class Context;
}

class MotorHinge {
public:
    inline static constexpr float maxTorque = 10000.0f;

    MotorHinge(Audio::Context* audio, CulledVector<DynamicBody, DynamicBody*> const& bodies, b2World& world,
               b2Body* ground, PristineLevel::MotorHinge const& record);

    // The world owns it; null when the record could not be built.
    b2RevoluteJoint* joint() const { return joint_; }

private:
    Sound sound_;
    b2RevoluteJoint* joint_ = nullptr;
};
