#include "world/SpringHinge.h"

#include <box2d/b2_body.h>
#include <box2d/b2_revolute_joint.h>

#include <cmath>

#include "world/BuildJoint.h"
#include "world/DynamicBody.h"

SpringHinge::SpringHinge(Audio::Context* audio, CulledVector<DynamicBody, DynamicBody*> const& bodies, b2Body* ground,
                         b2World& world, PristineLevel::SoundHinge const& record)
    : stiffness_(record.stiffness),
      restAngle_(record.referenceAngle),
      highSound_(audio, record.highSound),
      highThreshold_(record.highThreshold),
      lowSound_(audio, record.lowSound),
      lowThreshold_(record.lowThreshold) {
    // Body A is a level body (never the ground), body B may be the ground.
    b2Body* a = record.body == -1 ? nullptr : levelBody(bodies, record.body, ground);
    b2Body* b = levelBody(bodies, record.secondBody, ground);
    if (a == nullptr || !std::isfinite(record.angularDamping) || !std::isfinite(stiffness_) ||
        !std::isfinite(restAngle_)) {
        std::fprintf(stderr, "SpringHinge: body %d or its values unusable; not built\n", record.body);
        return;
    }
    b2RevoluteJointDef def;
    def.enableLimit = true;
    def.lowerAngle = record.lowerAngle;
    def.upperAngle = record.upperAngle;
    def.enableMotor = true;
    def.collideConnected = true;
    joint_ = createHinge(world, a, b, def, "SpringHinge");
    if (joint_ != nullptr) {
        a->SetAngularDamping(record.angularDamping);
    }
}

void SpringHinge::play(Sound& sound) {
    sound.play();
    ++soundsPlayed_;
}

void SpringHinge::update() {
    if (joint_ == nullptr) {
        return;
    }
    float const e = joint_->GetJointAngle() - restAngle_;
    if (e != 0.0f) {
        joint_->SetMaxMotorTorque(std::fabs(e * stiffness_));
        joint_->SetMotorSpeed(e > 0.0f ? -5000.0f : 5000.0f);
    }
    if (e > highThreshold_) {
        if (highArmed_) {
            play(highSound_);
            highArmed_ = false;
        }
    } else {
        highArmed_ = true;
    }
    if (e < lowThreshold_) {
        if (lowArmed_) {
            play(lowSound_);
            lowArmed_ = false;
        }
    } else {
        lowArmed_ = true;
    }
}
