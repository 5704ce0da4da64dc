#include <box2d/box2d.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "physics/particles/Box2DAdapter.h"
#include "physics/particles/PhysicsWorld.h"

using namespace PristineLevel;

namespace {

struct Scene {
    PhysicsWorld physics{b2Vec2(0.0f, -10.0f)};
    b2Body* ground = nullptr;
    std::vector<b2Body*> bodies;
    std::vector<b2Joint*> joints;

    explicit Scene(int dynamicBodies = 3) {
        b2BodyDef def;
        ground = physics.box2d().CreateBody(&def);
        for (int i = 0; i < dynamicBodies; ++i) {
            def.type = b2_dynamicBody;
            def.position.Set(float(i) * 2.0f, 0.0f);
            b2Body* body = physics.box2d().CreateBody(&def);
            b2CircleShape circle;
            circle.m_radius = 0.5f;
            body->CreateFixture(&circle, 1.0f);
            bodies.push_back(body);
        }
    }
    b2Joint* add(const JointVariant& def) {
        b2Joint* joint = Box2DAdapter::createJoint(physics.box2d(), def, ground, bodies, joints);
        joints.push_back(joint);
        return joint;
    }
};

template <class Joint>
Joint between(std::int32_t a, std::int32_t b) {
    Joint j;
    j.def.bodyA = a;
    j.def.bodyB = b;
    return j;
}

}  // namespace

// The kinds whose definitions differ between the two Box2D versions; the others copy their
// fields and are checked against the sample level.
TEST(Joints, SpringsRodsRopesAndLimitsMapOntoTheInstalledBox2D) {
    Scene s;
    float const massA = s.bodies[0]->GetMass();

    auto distance = between<DistanceJoint>(-1, 0);
    distance.def.length = 2.0f;
    distance.def.frequencyHz = 4.0f;
    distance.def.dampingRatio = 0.5f;
    auto* spring = static_cast<b2DistanceJoint*>(s.add(distance));
    ASSERT_NE(spring, nullptr);
    float const omega = 2.0f * b2_pi * 4.0f;
    EXPECT_NEAR(spring->GetStiffness(), massA * omega * omega, 1e-3f);
    EXPECT_NEAR(spring->GetDamping(), 2.0f * massA * 0.5f * omega, 1e-4f);
    EXPECT_LT(spring->GetMinLength(), spring->GetMaxLength());

    auto rigid = between<DistanceJoint>(0, 1);
    rigid.def.length = 1.5f;
    auto* rod = static_cast<b2DistanceJoint*>(s.add(rigid));
    ASSERT_NE(rod, nullptr);
    EXPECT_EQ(rod->GetMinLength(), 1.5f);  // no frequency: a rigid rod
    EXPECT_EQ(rod->GetMaxLength(), 1.5f);

    auto rope = between<RopeJoint>(-1, 2);
    rope.def.maxLength = 4.0f;
    auto* r = static_cast<b2DistanceJoint*>(s.add(rope));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->GetMaxLength(), 4.0f);
    EXPECT_LE(r->GetMinLength(), b2_linearSlop);
    EXPECT_EQ(r->GetStiffness(), 0.0f);

    auto weld = between<WeldJoint>(0, 2);
    weld.def.frequencyHz = 2.0f;
    weld.def.dampingRatio = 0.7f;
    auto* w = static_cast<b2WeldJoint*>(s.add(weld));
    ASSERT_NE(w, nullptr);
    EXPECT_GT(w->GetStiffness(), 0.0f);

    auto wheel = between<WheelJoint>(-1, 1);
    wheel.def.frequencyHz = 2.0f;
    wheel.def.dampingRatio = 0.7f;
    auto* wh = static_cast<b2WheelJoint*>(s.add(wheel));
    ASSERT_NE(wh, nullptr);
    float const wheelOmega = 2.0f * b2_pi * 2.0f;
    EXPECT_NEAR(wh->GetStiffness(), s.bodies[1]->GetMass() * wheelOmega * wheelOmega, 1e-3f);

    auto prismatic = between<PrismaticJoint>(-1, 0);
    prismatic.def.localAxisA = {0.0f, 2.0f};
    prismatic.def.lowerTranslation = 1.0f;  // lower above upper: swapped, not an abort
    prismatic.def.upperTranslation = -1.0f;
    auto* p = static_cast<b2PrismaticJoint*>(s.add(prismatic));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetLocalAxisA(), b2Vec2(0.0f, 1.0f));
    EXPECT_EQ(p->GetLowerLimit(), -1.0f);
    EXPECT_EQ(p->GetUpperLimit(), 1.0f);

    for (int i = 0; i < 60; ++i) {
        s.physics.Step(1.0f / 60.0f, 6, 4);
    }
    for (b2Body* body : s.bodies) {
        EXPECT_TRUE(body->GetPosition().IsValid());
    }
}

TEST(Joints, SoftWeldStiffnessComesFromInertiaAboutTheCentreOfMass) {
    // A 1 m box of density 1 welded to the ground at 4 Hz: inertia 1/6 about its centre.
    float const omega = 2.0f * b2_pi * 4.0f;
    float const expected = omega * omega / 6.0f;  // about 105
    for (float originOffset : {0.0f, 20.0f}) {
        Scene s(0);
        b2BodyDef def;
        def.type = b2_dynamicBody;
        def.position.Set(-originOffset, 5.0f);
        b2Body* box = s.physics.box2d().CreateBody(&def);
        b2PolygonShape shape;
        shape.SetAsBox(0.5f, 0.5f, b2Vec2(originOffset, 0.0f), 0.0f);  // the box sits at x = 0 either way
        box->CreateFixture(&shape, 1.0f);
        s.bodies.push_back(box);

        auto weld = between<WeldJoint>(-1, 0);
        weld.def.localAnchorA = {0.0f, 5.0f};
        weld.def.localAnchorB = {originOffset, 0.0f};
        weld.def.frequencyHz = 4.0f;
        weld.def.dampingRatio = 0.5f;
        auto* w = static_cast<b2WeldJoint*>(s.add(weld));
        ASSERT_NE(w, nullptr);
        EXPECT_NEAR(w->GetStiffness(), expected, 0.05f) << "origin " << originOffset << " m from the centre";
        EXPECT_NEAR(w->GetDamping(), 2.0f * 0.5f * omega / 6.0f, 0.01f) << originOffset;

        // Pushed round, it springs back and settles instead of snapping rigidly or exploding.
        box->SetAngularVelocity(3.0f);
        for (int i = 0; i < 120; ++i) {
            s.physics.Step(1.0f / 60.0f, 8, 3);
        }
        EXPECT_NEAR(box->GetAngle(), 0.0f, 0.05f) << originOffset;
        EXPECT_TRUE(box->GetWorldCenter().IsValid());
    }
}

TEST(Joints, RopePendulumKeepsItsLength) {
    Scene s(1);
    s.bodies[0]->SetTransform({3.0f, 0.0f}, 0.0f);  // level with the pivot, rope taut
    auto rope = between<RopeJoint>(-1, 0);
    rope.def.localAnchorA = {0.0f, 0.0f};
    rope.def.localAnchorB = {0.0f, 0.0f};
    rope.def.maxLength = 3.0f;
    ASSERT_NE(s.add(rope), nullptr);
    float lowest = 0.0f;
    for (int i = 0; i < 600; ++i) {
        s.physics.Step(1.0f / 60.0f, 6, 4);
        float const length = s.bodies[0]->GetPosition().Length();
        EXPECT_LT(length, 3.0f + 0.05f) << "step " << i;
        lowest = std::min(lowest, s.bodies[0]->GetPosition().y);
    }
    EXPECT_NEAR(lowest, -3.0f, 0.05f);  // it swung through the bottom at full length
}

TEST(Joints, DamagedDefinitionsAreRefused) {
    Scene s;
    float const nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(s.add(between<RevoluteJoint>(0, 5)), nullptr);   // no body 5
    EXPECT_EQ(s.add(between<RevoluteJoint>(-2, 0)), nullptr);  // below the ground index
    EXPECT_EQ(s.add(between<RevoluteJoint>(1, 1)), nullptr);   // one body twice
    EXPECT_EQ(s.add(between<RevoluteJoint>(-1, -1)), nullptr);

    auto gear = between<GearJoint>(0, 1);
    gear.def.joint1 = 0;  // refused entries, and ones not yet created
    gear.def.joint2 = 9;
    EXPECT_EQ(s.add(gear), nullptr);
    auto rope = between<RopeJoint>(-1, 0);
    rope.def.maxLength = 2.0f;
    std::int32_t const ropeIndex = std::int32_t(s.joints.size());
    ASSERT_NE(s.add(rope), nullptr);
    auto hinge = between<RevoluteJoint>(-1, 1);
    ASSERT_NE(s.add(hinge), nullptr);
    gear.def.joint1 = ropeIndex;  // a rope is no gear partner
    gear.def.joint2 = ropeIndex + 1;
    EXPECT_EQ(s.add(gear), nullptr);
    std::int32_t const staticHinge = std::int32_t(s.joints.size());
    ASSERT_NE(s.add(between<RevoluteJoint>(0, -1)), nullptr);  // turns the ground, not a body
    gear.def.joint1 = ropeIndex + 1;
    gear.def.joint2 = staticHinge;
    EXPECT_EQ(s.add(gear), nullptr);

    auto pulley = between<PulleyJoint>(0, 1);
    pulley.def.ratio = 0.0f;
    EXPECT_EQ(s.add(pulley), nullptr);
    auto motor = between<MotorJoint>(-1, 0);
    motor.def.correctionFactor = 2.0f;
    EXPECT_EQ(s.add(motor), nullptr);
    auto distance = between<DistanceJoint>(-1, 0);
    distance.def.length = nan;
    EXPECT_EQ(s.add(distance), nullptr);
    auto wheel = between<WheelJoint>(-1, 0);
    wheel.def.localAxisA = {0.0f, 0.0f};
    EXPECT_EQ(s.add(wheel), nullptr);
    // Springs whose stiffness overflows would leave the bodies at NaN after one step.
    wheel.def.localAxisA = {0.0f, 1.0f};
    wheel.def.frequencyHz = 1e30f;
    EXPECT_EQ(s.add(wheel), nullptr);
    auto weld = between<WeldJoint>(0, 1);
    weld.def.frequencyHz = 1e20f;
    EXPECT_EQ(s.add(weld), nullptr);
    distance.def.length = 1.0f;
    distance.def.frequencyHz = 1e30f;
    EXPECT_EQ(s.add(distance), nullptr);
    auto revolute = between<RevoluteJoint>(-1, 0);
    revolute.def.localAnchorB = {nan, 0.0f};
    EXPECT_EQ(s.add(revolute), nullptr);
    revolute.def.localAnchorB = {0.0f, 0.0f};
    revolute.def.lowerAngle = 1.0f;
    revolute.def.upperAngle = -1.0f;
    auto* swapped = static_cast<b2RevoluteJoint*>(s.add(revolute));
    ASSERT_NE(swapped, nullptr);
    EXPECT_EQ(swapped->GetLowerLimit(), -1.0f);
}

TEST(Joints, BodyDefinitionsMapActiveAndUserData) {
    BodyDef def;
    def.type = BodyDef::dynamicBody;
    def.position = {1.0f, 2.0f};
    def.active = false;
    def.userData = -1;
    def.gravityScale = 0.5f;
    b2BodyDef const out = Box2DAdapter::toBodyDef(def);
    EXPECT_EQ(out.type, b2_dynamicBody);
    EXPECT_FALSE(out.enabled);
    EXPECT_EQ(out.userData.pointer, ~std::uintptr_t(0));
    EXPECT_EQ(out.gravityScale, 0.5f);

    // Values Box2D aborts on become defaults.
    def.type = 7;
    def.angle = std::numeric_limits<float>::infinity();
    def.linearDamping = -1.0f;
    def.position = {10.0f, -2.5e38f};  // far beyond any level: Box2D loses such a body
    b2BodyDef const fixed = Box2DAdapter::toBodyDef(def);
    EXPECT_EQ(fixed.type, b2_staticBody);
    EXPECT_EQ(fixed.angle, 0.0f);
    EXPECT_EQ(fixed.linearDamping, 0.0f);
    EXPECT_EQ(fixed.position, b2Vec2(10.0f, 0.0f));
    PhysicsWorld physics(b2Vec2(0.0f, -10.0f));
    b2Body* body = physics.box2d().CreateBody(&fixed);
    EXPECT_FALSE(Box2DAdapter::isActive(*body));
    Box2DAdapter::setActive(*body, true);
    EXPECT_TRUE(body->IsEnabled());
}

static ParticleDef particleAt(float x, float y) {
    ParticleDef def;
    def.position.Set(x, y);
    return def;
}

TEST(PhysicsWorld, ParticlesStopAtTheMaximumCount) {
    PhysicsWorld physics(b2Vec2(0.0f, -10.0f));
    physics.SetParticleMaxCount(2);
    EXPECT_EQ(physics.CreateParticle(particleAt(1.0f, 2.0f)), 0);
    EXPECT_EQ(physics.CreateParticle(particleAt(3.0f, 4.0f)), 1);
    EXPECT_EQ(physics.CreateParticle(particleAt(5.0f, 6.0f)), -1);
    ASSERT_EQ(physics.GetParticleCount(), 2);
    EXPECT_EQ(physics.GetParticlePositionBuffer()[1], b2Vec2(3.0f, 4.0f));

    // The level's count is unsigned: a large one stays a limit.
    physics.SetParticleMaxCount(3000000000u);
    EXPECT_EQ(physics.GetParticleMaxCount(), 3000000000u);
    EXPECT_EQ(physics.CreateParticle(particleAt(7.0f, 8.0f)), 2);
}
