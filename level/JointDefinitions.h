#pragma once
// The level's joints: one definition of ten kinds each, the states that level signals switch a
// joint into, and a reset signal. The definitions carry the fields of the physics engine the
// levels were authored for (frequency and damping ratio, the rope joint); the physics layer maps
// them onto the installed engine. Body slots hold dynamic-body indices (-1: the ground body).
#include <boost/optional.hpp>
#include <boost/variant.hpp>
#include <glm/vec2.hpp>

#include <cstdint>
#include <vector>

class b2Joint;
class b2RevoluteJoint;
class b2DistanceJoint;

// A value reached gradually: the joint moves toward `target` by `speed` per unit of step.
struct InterpolatedFloat {
    float target = 0.0f;
    float speed = 0.0f;

    // Moves `current` toward the target without passing it; true once it is there.
    // Defined with the curve maths.
    bool moveToward(float& current, float step) const;

    friend bool operator==(InterpolatedFloat const&, InterpolatedFloat const&) = default;
};

// The state of the kinds that have nothing to switch. Not stored in the file: only the count is,
// so these stay zero and never fire.
struct EmptyJointState {
    uint32_t signal = 0;
    uint8_t interrupt = 0;

    bool apply(b2Joint&) const { return false; }
    bool step(b2Joint&, float) const { return true; }

    friend bool operator==(EmptyJointState const&, EmptyJointState const&) = default;
};

struct RevoluteJointState {
    uint32_t signal = 0;    // 0: never fires
    uint8_t interrupt = 0;  // 1: replaces a running transition of the same joint
    boost::optional<bool> enableLimit;
    boost::optional<bool> enableMotor;
    boost::optional<InterpolatedFloat> lowerAngle;
    boost::optional<InterpolatedFloat> upperAngle;
    boost::optional<InterpolatedFloat> motorSpeed;
    boost::optional<InterpolatedFloat> maxMotorTorque;

    // Sets the limit and motor switches at once; true when a target differs from the joint and
    // stepping must run.
    bool apply(b2RevoluteJoint& joint) const;
    // Moves the lower angle, upper angle, motor speed and maximum torque in turn: a target starts
    // moving only once every one before it has arrived. True when all have arrived.
    bool step(b2RevoluteJoint& joint, float step) const;

    friend bool operator==(RevoluteJointState const&, RevoluteJointState const&) = default;
};

// The rope joint is a distance joint on the installed engine: its maximum length is the rope's.
struct RopeJointState {
    uint32_t signal = 0;
    uint8_t interrupt = 0;
    boost::optional<InterpolatedFloat> maxLength;

    bool apply(b2DistanceJoint& joint) const;
    bool step(b2DistanceJoint& joint, float step) const;

    friend bool operator==(RopeJointState const&, RopeJointState const&) = default;
};

namespace PristineLevel {

// Joint type numbers of the physics engine, stored in every definition's `type`.
enum JointType : int32_t {
    revoluteJointType = 1,
    prismaticJointType = 2,
    distanceJointType = 3,
    pulleyJointType = 4,
    mouseJointType = 5,
    gearJointType = 6,
    wheelJointType = 7,
    weldJointType = 8,
    frictionJointType = 9,
    ropeJointType = 10,
    motorJointType = 11,
};

// The fields every definition starts with. Their stored order differs between kinds.
struct JointDefBase {
    int32_t type = 0;
    bool collideConnected = false;
    int32_t bodyA = 0;  // dynamic-body index, -1: the ground body
    int32_t bodyB = 0;

    friend bool operator==(JointDefBase const&, JointDefBase const&) = default;
};

struct DistanceJointDef : JointDefBase {
    DistanceJointDef() { type = distanceJointType; }
    glm::vec2 localAnchorA;
    glm::vec2 localAnchorB;
    float length = 1.0f;
    float frequencyHz = 0.0f;
    float dampingRatio = 0.0f;

    friend bool operator==(DistanceJointDef const&, DistanceJointDef const&) = default;
};

struct FrictionJointDef : JointDefBase {
    FrictionJointDef() { type = frictionJointType; }
    glm::vec2 localAnchorA;
    glm::vec2 localAnchorB;
    float maxForce = 0.0f;
    float maxTorque = 0.0f;

    friend bool operator==(FrictionJointDef const&, FrictionJointDef const&) = default;
};

struct GearJointDef : JointDefBase {
    GearJointDef() { type = gearJointType; }
    int32_t joint1 = -1;  // index into the level's joints, -1: none
    int32_t joint2 = -1;
    float ratio = 1.0f;

    friend bool operator==(GearJointDef const&, GearJointDef const&) = default;
};

struct MotorJointDef : JointDefBase {
    MotorJointDef() { type = motorJointType; }
    glm::vec2 linearOffset;
    float angularOffset = 0.0f;
    float maxForce = 1.0f;
    float maxTorque = 1.0f;
    float correctionFactor = 0.3f;

    friend bool operator==(MotorJointDef const&, MotorJointDef const&) = default;
};

struct PrismaticJointDef : JointDefBase {
    PrismaticJointDef() { type = prismaticJointType; }
    glm::vec2 localAnchorA;
    glm::vec2 localAnchorB;
    glm::vec2 localAxisA{1.0f, 0.0f};
    float referenceAngle = 0.0f;
    bool enableLimit = false;
    float lowerTranslation = 0.0f;
    float upperTranslation = 0.0f;
    bool enableMotor = false;
    float maxMotorForce = 0.0f;
    float motorSpeed = 0.0f;

    friend bool operator==(PrismaticJointDef const&, PrismaticJointDef const&) = default;
};

struct PulleyJointDef : JointDefBase {
    PulleyJointDef() {
        type = pulleyJointType;
        collideConnected = true;
    }
    glm::vec2 groundAnchorA{-1.0f, 1.0f};
    glm::vec2 groundAnchorB{1.0f, 1.0f};
    glm::vec2 localAnchorA{-1.0f, 0.0f};
    glm::vec2 localAnchorB{1.0f, 0.0f};
    float lengthA = 0.0f;
    float lengthB = 0.0f;
    float ratio = 1.0f;

    friend bool operator==(PulleyJointDef const&, PulleyJointDef const&) = default;
};

struct RevoluteJointDef : JointDefBase {
    RevoluteJointDef() { type = revoluteJointType; }
    glm::vec2 localAnchorA;
    glm::vec2 localAnchorB;
    float referenceAngle = 0.0f;
    bool enableLimit = false;
    float lowerAngle = 0.0f;
    float upperAngle = 0.0f;
    bool enableMotor = false;
    float motorSpeed = 0.0f;
    float maxMotorTorque = 0.0f;

    friend bool operator==(RevoluteJointDef const&, RevoluteJointDef const&) = default;
};

struct RopeJointDef : JointDefBase {
    RopeJointDef() { type = ropeJointType; }
    glm::vec2 localAnchorA{-1.0f, 0.0f};
    glm::vec2 localAnchorB{1.0f, 0.0f};
    float maxLength = 0.0f;

    friend bool operator==(RopeJointDef const&, RopeJointDef const&) = default;
};

struct WeldJointDef : JointDefBase {
    WeldJointDef() { type = weldJointType; }
    glm::vec2 localAnchorA;
    glm::vec2 localAnchorB;
    float referenceAngle = 0.0f;
    float frequencyHz = 0.0f;
    float dampingRatio = 0.0f;

    friend bool operator==(WeldJointDef const&, WeldJointDef const&) = default;
};

struct WheelJointDef : JointDefBase {
    WheelJointDef() { type = wheelJointType; }
    glm::vec2 localAnchorA;
    glm::vec2 localAnchorB;
    glm::vec2 localAxisA{1.0f, 0.0f};
    bool enableMotor = false;
    float maxMotorTorque = 0.0f;
    float motorSpeed = 0.0f;
    float frequencyHz = 2.0f;
    float dampingRatio = 0.7f;

    friend bool operator==(WheelJointDef const&, WheelJointDef const&) = default;
};

// One joint kind: its definition and the states level signals switch it into.
template <class Def, class State>
struct JointDef {
    using Definition = Def;
    using StateType = State;

    Def def;
    std::vector<State> states;

    friend bool operator==(JointDef const&, JointDef const&) = default;
};

using DistanceJoint = JointDef<DistanceJointDef, EmptyJointState>;
using FrictionJoint = JointDef<FrictionJointDef, EmptyJointState>;
using GearJoint = JointDef<GearJointDef, EmptyJointState>;
using MotorJoint = JointDef<MotorJointDef, EmptyJointState>;
using PrismaticJoint = JointDef<PrismaticJointDef, EmptyJointState>;
using PulleyJoint = JointDef<PulleyJointDef, EmptyJointState>;
using RevoluteJoint = JointDef<RevoluteJointDef, RevoluteJointState>;
using RopeJoint = JointDef<RopeJointDef, RopeJointState>;
using WeldJoint = JointDef<WeldJointDef, EmptyJointState>;
using WheelJoint = JointDef<WheelJointDef, EmptyJointState>;

// The alternative's index is the `which` stored in the file.
using JointVariant = boost::variant<DistanceJoint, FrictionJoint, GearJoint, MotorJoint, PrismaticJoint,
                                    PulleyJoint, RevoluteJoint, RopeJoint, WeldJoint, WheelJoint>;

inline constexpr int jointKindCount = 10;

struct JointRecord {
    JointVariant def;
    uint32_t resetSignal = 0;  // restores the joint's build-time state; 0: none

    friend bool operator==(JointRecord const&, JointRecord const&) = default;
};

}  // namespace PristineLevel
