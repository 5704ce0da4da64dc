#include "world/JointSwitch.h"

#include <box2d/b2_body.h>
#include <box2d/b2_revolute_joint.h>

#include <cmath>
#include <cstdio>

#include "os/EventHandler.h"
#include "world/BuildJoint.h"
#include "world/DynamicBody.h"
#include "world/Player.h"

JointSwitch::JointSwitch(Graphics::Context*, Audio::Context* audio, EventHandler* events,
                         CulledVector<DynamicBody, DynamicBody*> const& bodies, b2Body* ground, b2World& world,
                         PristineLevel::JointSwitch const& record)
    : events_(events),
      onSignal_(record.onSignal),
      offSignal_(record.offSignal),
      threshold_(record.threshold),
      onSound_(audio, record.onSound),
      offSound_(audio, record.offSound),
      needsJump_(record.needsJump) {
    b2Body* a = record.body == PristineLevel::staticBodyIndexU ? nullptr : levelBody(bodies, record.body, ground);
    b2Body* b = levelBody(bodies, record.secondBody, ground);
    if (a == nullptr || !std::isfinite(record.angularDamping) || !std::isfinite(record.gravityScale) ||
        !std::isfinite(threshold_)) {
        std::fprintf(stderr, "JointSwitch: body %u or its values unusable; not built\n", record.body);
        return;
    }
    b2RevoluteJointDef def;
    def.enableLimit = true;
    def.lowerAngle = record.lowerAngle;
    def.upperAngle = record.upperAngle;
    def.enableMotor = record.enableMotor;
    def.motorSpeed = record.motorSpeed;
    def.maxMotorTorque = record.maxMotorTorque;
    joint_ = createHinge(world, a, b, def, "JointSwitch");
    if (joint_ != nullptr) {
        a->SetAngularDamping(record.angularDamping);
        a->SetGravityScale(record.gravityScale);
    }
}

void JointSwitch::update(Player::Player const& player) {
    if (joint_ == nullptr) {
        return;
    }
    float const angle = joint_->GetJointAngle();
    bool const allowed = !needsJump_ || player.getInput().jump != 0;
    bool const past = threshold_ > 0.0f ? angle > threshold_ : angle <= threshold_;
    if (allowed && past) {
        if (!isOn_) {
            events_->trigger(onSignal_);
            onSound_.play();
            isOn_ = true;
        }
    } else if (isOn_) {
        events_->trigger(offSignal_);
        offSound_.play();
        isOn_ = false;
    }
}
