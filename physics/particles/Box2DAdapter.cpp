#include "physics/particles/Box2DAdapter.h"

#include <box2d/box2d.h>

#include <cmath>
#include <cstdio>
#include <utility>

namespace Box2DAdapter {

namespace {

// Positions and lengths of level geometry lie well inside this; beyond it Box2D's float
// arithmetic loses the bodies (and its distance routines abort).
constexpr float kMaxCoordinate = 1.0e6f;

bool finite(float v) { return std::isfinite(v); }
bool inRange(float v) { return std::isfinite(v) && std::fabs(v) <= kMaxCoordinate; }
bool finite(glm::vec2 v) { return inRange(v.x) && inRange(v.y); }
b2Vec2 vec(glm::vec2 v) { return {v.x, v.y}; }

// Rotational inertia about the centre of mass. The installed Box2D reports it about the body's
// origin, which for a body whose origin sits away from its shapes is far larger.
float centralInertia(const b2Body* body) {
    b2Vec2 const c = body->GetLocalCenter();
    return std::fmax(body->GetInertia() - body->GetMass() * b2Dot(c, c), 0.0f);
}

// A soft angular spring of `frequencyHz` on the bodies' effective inertia about their centres of
// mass, as the older weld computed it (b2AngularStiffness takes inertia about the origins).
void angularStiffness(float& stiffness, float& damping, float frequencyHz, float dampingRatio, const b2Body* a,
                      const b2Body* b) {
    float const ia = centralInertia(a);
    float const ib = centralInertia(b);
    float const inertia = ia > 0.0f && ib > 0.0f ? ia * ib / (ia + ib) : ia > 0.0f ? ia : ib;
    float const omega = 2.0f * b2_pi * frequencyHz;
    stiffness = inertia * omega * omega;
    damping = 2.0f * inertia * dampingRatio * omega;
}

float orDefault(float v, float fallback, bool& changed) {
    if (inRange(v)) {
        return v;
    }
    changed = true;
    return fallback;
}

}  // namespace

b2BodyDef toBodyDef(const PristineLevel::BodyDef& def) {
    b2BodyDef out;
    bool changed = false;
    switch (def.type) {
    case PristineLevel::BodyDef::staticBody:
        out.type = b2_staticBody;
        break;
    case PristineLevel::BodyDef::kinematicBody:
        out.type = b2_kinematicBody;
        break;
    case PristineLevel::BodyDef::dynamicBody:
        out.type = b2_dynamicBody;
        break;
    default:
        changed = true;
        out.type = b2_staticBody;
        break;
    }
    out.position.Set(orDefault(def.position.x, 0.0f, changed), orDefault(def.position.y, 0.0f, changed));
    out.angle = orDefault(def.angle, 0.0f, changed);
    out.linearVelocity.Set(orDefault(def.linearVelocity.x, 0.0f, changed),
                           orDefault(def.linearVelocity.y, 0.0f, changed));
    out.angularVelocity = orDefault(def.angularVelocity, 0.0f, changed);
    out.linearDamping = orDefault(def.linearDamping, 0.0f, changed);
    out.angularDamping = orDefault(def.angularDamping, 0.0f, changed);
    if (out.linearDamping < 0.0f || out.angularDamping < 0.0f) {
        changed = true;
        out.linearDamping = std::fmax(out.linearDamping, 0.0f);
        out.angularDamping = std::fmax(out.angularDamping, 0.0f);
    }
    out.allowSleep = def.allowSleep;
    out.awake = def.awake;
    out.fixedRotation = def.fixedRotation;
    out.bullet = def.bullet;
    out.enabled = def.active;
    // The stored 32-bit value widens sign-extended, as it did into a pointer.
    out.userData.pointer = std::uintptr_t(std::intptr_t(def.userData));
    out.gravityScale = orDefault(def.gravityScale, 1.0f, changed);
    if (changed) {
        std::fprintf(stderr, "Box2DAdapter: body definition had unusable values; defaults put in their place\n");
    }
    return out;
}

namespace {

// Resolves the level's body and joint indices and checks the numbers of one definition.
class JointBuilder {
public:
    JointBuilder(b2World& world, b2Body* ground, const std::vector<b2Body*>& bodies,
                 const std::vector<b2Joint*>& created)
        : world_(world), ground_(ground), bodies_(bodies), created_(created) {}

    b2Joint* operator()(const PristineLevel::DistanceJoint& j) {
        const auto& d = j.def;
        b2DistanceJointDef out;
        if (!attach(d, out) ||
            !nonNegative({d.length, d.frequencyHz, d.dampingRatio}) || !lengths({d.length})) {
            return nullptr;
        }
        out.length = d.length;
        if (d.frequencyHz > 0.0f) {
            // A spring around the rest length, free to stretch and compress.
            out.minLength = 0.0f;
            out.maxLength = FLT_MAX;
            b2LinearStiffness(out.stiffness, out.damping, d.frequencyHz, d.dampingRatio, out.bodyA, out.bodyB);
            if (!spring(out.stiffness, out.damping)) {
                return nullptr;
            }
        } else {
            // No frequency: a rigid rod of the rest length.
            out.minLength = d.length;
            out.maxLength = d.length;
        }
        return world_.CreateJoint(&out);
    }

    b2Joint* operator()(const PristineLevel::FrictionJoint& j) {
        const auto& d = j.def;
        b2FrictionJointDef out;
        if (!attach(d, out) || !nonNegative({d.maxForce, d.maxTorque})) {
            return nullptr;
        }
        out.maxForce = d.maxForce;
        out.maxTorque = d.maxTorque;
        return world_.CreateJoint(&out);
    }

    b2Joint* operator()(const PristineLevel::GearJoint& j) {
        const auto& d = j.def;
        b2GearJointDef out;
        if (!base(d, out) || !finiteAll({d.ratio})) {
            return nullptr;
        }
        out.joint1 = jointAt(d.joint1);
        out.joint2 = jointAt(d.joint2);
        if (out.joint1 == nullptr || out.joint2 == nullptr || out.joint1 == out.joint2) {
            return refuse("gear joint does not name two earlier revolute or prismatic joints on dynamic bodies");
        }
        out.ratio = d.ratio;
        return world_.CreateJoint(&out);
    }

    b2Joint* operator()(const PristineLevel::MotorJoint& j) {
        const auto& d = j.def;
        b2MotorJointDef out;
        if (!base(d, out) || !finite(d.linearOffset) || !finiteAll({d.angularOffset}) ||
            !nonNegative({d.maxForce, d.maxTorque, d.correctionFactor}) || d.correctionFactor > 1.0f) {
            return refuseIfOk("motor joint values out of range");
        }
        out.linearOffset = vec(d.linearOffset);
        out.angularOffset = d.angularOffset;
        out.maxForce = d.maxForce;
        out.maxTorque = d.maxTorque;
        out.correctionFactor = d.correctionFactor;
        return world_.CreateJoint(&out);
    }

    b2Joint* operator()(const PristineLevel::PrismaticJoint& j) {
        const auto& d = j.def;
        b2PrismaticJointDef out;
        if (!attach(d, out) || !axis(d.localAxisA, out.localAxisA) ||
            !finiteAll({d.referenceAngle, d.lowerTranslation, d.upperTranslation, d.maxMotorForce, d.motorSpeed})) {
            return refuseIfOk("prismatic joint values not finite");
        }
        out.referenceAngle = d.referenceAngle;
        out.enableLimit = d.enableLimit;
        limits(d.lowerTranslation, d.upperTranslation, out.lowerTranslation, out.upperTranslation);
        out.enableMotor = d.enableMotor;
        out.maxMotorForce = d.maxMotorForce;
        out.motorSpeed = d.motorSpeed;
        return world_.CreateJoint(&out);
    }

    b2Joint* operator()(const PristineLevel::PulleyJoint& j) {
        const auto& d = j.def;
        b2PulleyJointDef out;
        if (!attach(d, out) || !finite(d.groundAnchorA) ||
            !finite(d.groundAnchorB) || !nonNegative({d.lengthA, d.lengthB}) || !lengths({d.lengthA, d.lengthB}) ||
            !finiteAll({d.ratio}) || d.ratio == 0.0f) {
            return refuseIfOk("pulley joint values out of range");
        }
        out.groundAnchorA = vec(d.groundAnchorA);
        out.groundAnchorB = vec(d.groundAnchorB);
        out.lengthA = d.lengthA;
        out.lengthB = d.lengthB;
        out.ratio = d.ratio;
        return world_.CreateJoint(&out);
    }

    b2Joint* operator()(const PristineLevel::RevoluteJoint& j) {
        const auto& d = j.def;
        b2RevoluteJointDef out;
        if (!attach(d, out) ||
            !finiteAll({d.referenceAngle, d.lowerAngle, d.upperAngle, d.motorSpeed, d.maxMotorTorque})) {
            return refuseIfOk("revolute joint values not finite");
        }
        out.referenceAngle = d.referenceAngle;
        out.enableLimit = d.enableLimit;
        limits(d.lowerAngle, d.upperAngle, out.lowerAngle, out.upperAngle);
        out.enableMotor = d.enableMotor;
        out.motorSpeed = d.motorSpeed;
        out.maxMotorTorque = d.maxMotorTorque;
        return world_.CreateJoint(&out);
    }

    b2Joint* operator()(const PristineLevel::RopeJoint& j) {
        const auto& d = j.def;
        b2DistanceJointDef out;
        if (!attach(d, out) || !nonNegative({d.maxLength}) || !lengths({d.maxLength})) {
            return nullptr;
        }
        // A rope: slack below its length, taut at it.
        out.length = d.maxLength;
        out.minLength = 0.0f;
        out.maxLength = d.maxLength;
        out.stiffness = 0.0f;
        out.damping = 0.0f;
        return world_.CreateJoint(&out);
    }

    b2Joint* operator()(const PristineLevel::WeldJoint& j) {
        const auto& d = j.def;
        b2WeldJointDef out;
        if (!attach(d, out) || !finiteAll({d.referenceAngle}) ||
            !nonNegative({d.frequencyHz, d.dampingRatio})) {
            return refuseIfOk("weld joint values out of range");
        }
        out.referenceAngle = d.referenceAngle;
        if (d.frequencyHz > 0.0f) {
            angularStiffness(out.stiffness, out.damping, d.frequencyHz, d.dampingRatio, out.bodyA, out.bodyB);
            if (!spring(out.stiffness, out.damping)) {
                return nullptr;
            }
        }
        return world_.CreateJoint(&out);
    }

    b2Joint* operator()(const PristineLevel::WheelJoint& j) {
        const auto& d = j.def;
        b2WheelJointDef out;
        if (!attach(d, out) || !axis(d.localAxisA, out.localAxisA) ||
            !finiteAll({d.maxMotorTorque, d.motorSpeed}) || !nonNegative({d.frequencyHz, d.dampingRatio})) {
            return refuseIfOk("wheel joint values out of range");
        }
        out.enableMotor = d.enableMotor;
        out.maxMotorTorque = d.maxMotorTorque;
        out.motorSpeed = d.motorSpeed;
        b2LinearStiffness(out.stiffness, out.damping, d.frequencyHz, d.dampingRatio, out.bodyA, out.bodyB);
        if (!spring(out.stiffness, out.damping)) {
            return nullptr;
        }
        return world_.CreateJoint(&out);
    }

private:
    b2Joint* refuse(const char* why) {
        std::fprintf(stderr, "Box2DAdapter: joint not created: %s\n", why);
        refused_ = true;
        return nullptr;
    }
    // Logs unless an earlier check already did.
    b2Joint* refuseIfOk(const char* why) { return refused_ ? nullptr : refuse(why); }

    b2Body* body(std::int32_t index) {
        if (index == -1) {
            return ground_;
        }
        if (index < 0 || std::size_t(index) >= bodies_.size()) {
            return nullptr;
        }
        return bodies_[std::size_t(index)];
    }

    b2Joint* jointAt(std::int32_t index) {
        if (index < 0 || std::size_t(index) >= created_.size() || created_[std::size_t(index)] == nullptr) {
            return nullptr;
        }
        b2Joint* joint = created_[std::size_t(index)];
        b2JointType const type = joint->GetType();
        // Box2D gears turn the second body of each joint, which it requires to be dynamic.
        bool const usable = (type == e_revoluteJoint || type == e_prismaticJoint) &&
                            joint->GetBodyB()->GetType() == b2_dynamicBody;
        return usable ? joint : nullptr;
    }

    bool base(const PristineLevel::JointDefBase& d, b2JointDef& out) {
        out.bodyA = body(d.bodyA);
        out.bodyB = body(d.bodyB);
        out.collideConnected = d.collideConnected;
        if (out.bodyA == nullptr || out.bodyB == nullptr) {
            refuse("body index outside the level's bodies");
            return false;
        }
        if (out.bodyA == out.bodyB) {
            refuse("both ends on one body");
            return false;
        }
        return true;
    }

    // The bodies and the two local anchors, which every kind but gear and motor has.
    template <class LevelDef, class Def>
    bool attach(const LevelDef& d, Def& out) {
        if (!base(d, out)) {
            return false;
        }
        if (!finite(d.localAnchorA) || !finite(d.localAnchorB)) {
            refuse("anchor not finite");
            return false;
        }
        out.localAnchorA = vec(d.localAnchorA);
        out.localAnchorB = vec(d.localAnchorB);
        return true;
    }

    bool axis(glm::vec2 a, b2Vec2& out) {
        if (!finite(a) || !(a.x * a.x + a.y * a.y > b2_epsilon * b2_epsilon)) {
            refuse("axis not finite or of no length");
            return false;
        }
        out = vec(a);
        out.Normalize();
        return true;
    }

    bool finiteAll(std::initializer_list<float> values) {
        for (float v : values) {
            if (!finite(v)) {
                refuse("value not finite");
                return false;
            }
        }
        return true;
    }

    bool nonNegative(std::initializer_list<float> values) {
        for (float v : values) {
            if (!finite(v) || v < 0.0f) {
                refuse("value negative or not finite");
                return false;
            }
        }
        return true;
    }

    bool lengths(std::initializer_list<float> values) {
        for (float v : values) {
            if (!inRange(v)) {
                refuse("length out of range");
                return false;
            }
        }
        return true;
    }

    // A frequency or damping ratio so large that the spring's numbers overflow would turn the
    // bodies' positions into NaN at the first step.
    bool spring(float stiffness, float damping) {
        if (!finite(stiffness) || !finite(damping)) {
            refuse("spring frequency or damping ratio out of range");
            return false;
        }
        return true;
    }

    void limits(float lower, float upper, float& outLower, float& outUpper) {
        if (lower > upper) {
            std::fprintf(stderr, "Box2DAdapter: joint limits %g above %g swapped\n", double(lower), double(upper));
            std::swap(lower, upper);
        }
        outLower = lower;
        outUpper = upper;
    }

    b2World& world_;
    b2Body* ground_;
    const std::vector<b2Body*>& bodies_;
    const std::vector<b2Joint*>& created_;
    bool refused_ = false;
};

}  // namespace

b2Joint* createJoint(b2World& world, const PristineLevel::JointVariant& def, b2Body* ground,
                     const std::vector<b2Body*>& bodies, const std::vector<b2Joint*>& created) {
    if (world.IsLocked()) {
        std::fprintf(stderr, "Box2DAdapter: joint not created inside a world step\n");
        return nullptr;
    }
    JointBuilder builder(world, ground, bodies, created);
    return boost::apply_visitor(builder, def);
}

}  // namespace Box2DAdapter
