#pragma once
// Gradual joint changes that level signals ask for: apply a state's immediate parts, then step its
// targets every update until all are reached. The rope joint is a distance joint here.
#include "level/JointDefinitions.h"

class b2Joint;
class b2RevoluteJoint;
class b2DistanceJoint;

// Sets the limit and motor switches; true when a target differs from the joint and stepping must run.
bool applyJointState(const RevoluteJointState& state, b2RevoluteJoint& joint);
// Moves the lower angle, upper angle, motor speed and maximum torque in turn: a target starts
// moving only once every one before it has arrived. True when all have arrived.
bool stepJointState(const RevoluteJointState& state, b2RevoluteJoint& joint, float step);

bool applyJointState(const RopeJointState& state, b2DistanceJoint& joint);
bool stepJointState(const RopeJointState& state, b2DistanceJoint& joint, float step);

inline bool applyJointState(const EmptyJointState&, b2Joint&) { return false; }
inline bool stepJointState(const EmptyJointState&, b2Joint&, float) { return true; }
