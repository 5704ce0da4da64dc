#include "level/JointStateStepping.h"

#include <box2d/b2_distance_joint.h>
#include <box2d/b2_revolute_joint.h>

#include <algorithm>

bool applyJointState(const RevoluteJointState& state, b2RevoluteJoint& joint) {
    if (state.enableLimit) {
        joint.EnableLimit(*state.enableLimit);
    }
    if (state.enableMotor) {
        joint.EnableMotor(*state.enableMotor);
    }
    return (state.lowerAngle && state.lowerAngle->target != joint.GetLowerLimit()) ||
           (state.upperAngle && state.upperAngle->target != joint.GetUpperLimit()) ||
           (state.motorSpeed && state.motorSpeed->target != joint.GetMotorSpeed()) ||
           (state.maxMotorTorque && state.maxMotorTorque->target != joint.GetMaxMotorTorque());
}

bool stepJointState(const RevoluteJointState& state, b2RevoluteJoint& joint, float step) {
    bool done = true;
    if (state.lowerAngle || state.upperAngle) {
        float lower = joint.GetLowerLimit();
        float upper = joint.GetUpperLimit();
        if (state.lowerAngle) {
            done = state.lowerAngle->moveToward(lower, step);
        }
        if (state.upperAngle) {
            done = done ? state.upperAngle->moveToward(upper, step) : false;
        }
        // Box2D aborts on a lower limit above the upper one: a lower limit that moves first past
        // the upper one pushes it along until the upper limit's turn comes.
        joint.SetLimits(lower, std::max(lower, upper));
    }
    if (state.motorSpeed) {
        if (done) {
            float speed = joint.GetMotorSpeed();
            done = state.motorSpeed->moveToward(speed, step);
            joint.SetMotorSpeed(speed);
        } else {
            done = false;
        }
    }
    if (state.maxMotorTorque) {
        if (done) {
            float torque = joint.GetMaxMotorTorque();
            done = state.maxMotorTorque->moveToward(torque, step);
            joint.SetMaxMotorTorque(torque);
        } else {
            done = false;
        }
    }
    return done;
}

bool applyJointState(const RopeJointState& state, b2DistanceJoint& joint) {
    return state.maxLength && state.maxLength->target != joint.GetMaxLength();
}

bool stepJointState(const RopeJointState& state, b2DistanceJoint& joint, float step) {
    if (!state.maxLength) {
        return true;
    }
    float length = joint.GetMaxLength();
    bool const done = state.maxLength->moveToward(length, step);
    // Box2D keeps the maximum at or above the minimum; a target below it can never be reached,
    // so a clamped length ends the move instead of stepping for ever.
    return joint.SetMaxLength(length) != length || done;
}
