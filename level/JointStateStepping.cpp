// Gradual joint changes that level signals ask for: apply a state's immediate parts, then step its
// targets every update until all are reached.
#include "level/JointDefinitions.h"

#include <box2d/b2_distance_joint.h>
#include <box2d/b2_revolute_joint.h>

#include <algorithm>

bool RevoluteJointState::apply(b2RevoluteJoint& joint) const {
    if (enableLimit) {
        joint.EnableLimit(*enableLimit);
    }
    if (enableMotor) {
        joint.EnableMotor(*enableMotor);
    }
    return (lowerAngle && lowerAngle->target != joint.GetLowerLimit()) ||
           (upperAngle && upperAngle->target != joint.GetUpperLimit()) ||
           (motorSpeed && motorSpeed->target != joint.GetMotorSpeed()) ||
           (maxMotorTorque && maxMotorTorque->target != joint.GetMaxMotorTorque());
}

bool RevoluteJointState::step(b2RevoluteJoint& joint, float step) const {
    bool done = true;
    if (lowerAngle || upperAngle) {
        float lower = joint.GetLowerLimit();
        float upper = joint.GetUpperLimit();
        if (lowerAngle) {
            done = lowerAngle->moveToward(lower, step);
        }
        if (upperAngle) {
            if (done) {
                done = upperAngle->moveToward(upper, step);
                // An upper target below the lower limit can never be reached: the upper limit
                // stops at the lower one and the move is over, so later states can run.
                if (upper < lower) {
                    upper = lower;
                    done = true;
                }
            } else {
                done = false;
            }
        }
        // Box2D aborts on a lower limit above the upper one: a lower limit that moves first past
        // the upper one pushes it along until the upper limit's turn comes, so the lower target
        // is always reached.
        joint.SetLimits(lower, std::max(lower, upper));
    }
    if (motorSpeed) {
        if (done) {
            float speed = joint.GetMotorSpeed();
            done = motorSpeed->moveToward(speed, step);
            joint.SetMotorSpeed(speed);
        } else {
            done = false;
        }
    }
    if (maxMotorTorque) {
        if (done) {
            float torque = joint.GetMaxMotorTorque();
            done = maxMotorTorque->moveToward(torque, step);
            joint.SetMaxMotorTorque(torque);
        } else {
            done = false;
        }
    }
    return done;
}

bool RopeJointState::apply(b2DistanceJoint& joint) const {
    return maxLength && maxLength->target != joint.GetMaxLength();
}

bool RopeJointState::step(b2DistanceJoint& joint, float step) const {
    if (!maxLength) {
        return true;
    }
    float length = joint.GetMaxLength();
    bool const done = maxLength->moveToward(length, step);
    // Box2D keeps the maximum at or above the minimum; a target below it can never be reached,
    // so a clamped length ends the move instead of stepping for ever.
    return joint.SetMaxLength(length) != length || done;
}
