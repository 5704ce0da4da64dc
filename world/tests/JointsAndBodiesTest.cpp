#include <box2d/b2_body.h>
#include <box2d/b2_distance_joint.h>
#include <box2d/b2_revolute_joint.h>
#include <gtest/gtest.h>

#include "world/tests/WorldRig.h"

using world_test::flatLevel;
using world_test::Rig;

namespace {

struct HingeLevel {
    levels::LevelBuilder b = flatLevel();
    uint32_t slow = 0;       // lower limit to -1 at 0.001 per ms, may not be interrupted
    uint32_t motorOn = 0;    // switches the motor on, may not interrupt
    uint32_t widen = 0;      // upper limit to 2 at 0.01 per ms, interrupts
    uint32_t raise = 0;      // the window to [1, 1.5]: the lower limit passes the upper one first
    uint32_t reset = 0;
    uint32_t bodyReset = 0;

    HingeLevel() {
        uint32_t const body = b.boxBody({20.0f, 5.0f}, {1.0f, 0.1f});
        bodyReset = b.signal();
        b.data().dynamicBodies[body].resetSignal = bodyReset;
        PristineLevel::RevoluteJoint hinge;
        hinge.def.bodyA = -1;
        hinge.def.bodyB = int32_t(body);
        hinge.def.localAnchorA = {20.0f, 5.0f};
        hinge.def.enableLimit = true;
        hinge.def.lowerAngle = -0.5f;
        hinge.def.upperAngle = 0.5f;
        hinge.def.enableMotor = false;
        hinge.def.maxMotorTorque = 100.0f;
        RevoluteJointState s;
        s.signal = slow = b.signal();
        s.lowerAngle = InterpolatedFloat{-1.0f, 0.001f};
        hinge.states.push_back(s);
        RevoluteJointState on;
        on.signal = motorOn = b.signal();
        on.enableMotor = true;
        on.motorSpeed = InterpolatedFloat{3.0f, 0.001f};
        hinge.states.push_back(on);
        RevoluteJointState w;
        w.signal = widen = b.signal();
        w.interrupt = 1;
        w.upperAngle = InterpolatedFloat{2.0f, 0.01f};
        hinge.states.push_back(w);
        RevoluteJointState up;
        up.signal = raise = b.signal();
        up.interrupt = 1;
        up.lowerAngle = InterpolatedFloat{1.0f, 0.01f};
        up.upperAngle = InterpolatedFloat{1.5f, 0.01f};
        hinge.states.push_back(up);
        reset = b.signal();
        b.joint(hinge, reset);
    }
};

}  // namespace

TEST(JointTransitions, ARevoluteStateRunsOneOwnedTaskUntilItArrives) {
    HingeLevel level;
    Rig rig(level.b.data());
    auto* joint = static_cast<b2RevoluteJoint*>(rig.world->joints()[0]);
    auto const owner = reinterpret_cast<std::uintptr_t>(joint);
    rig.raise(level.slow);
    rig.frame();
    ASSERT_EQ(rig.world->tasks().size(), 1u);
    EXPECT_EQ(rig.world->tasks()[0].owner(), owner);

    // Interrupt clear during the transition: ignored entirely, the motor switch too.
    rig.raise(level.motorOn);
    rig.frame();
    EXPECT_FALSE(joint->IsMotorEnabled());
    EXPECT_EQ(rig.world->tasks().size(), 1u);
    int frames = 2;
    while (!rig.world->tasks().empty() && frames < 100) {
        rig.frame();
        ++frames;
    }
    EXPECT_FLOAT_EQ(joint->GetLowerLimit(), -1.0f);
    EXPECT_NEAR(frames, 25, 1) << "0.5 at 0.001 per ms is 25 frames of 20 ms";

    // Interrupt set replaces a running transition, which goes on from the joint's values.
    rig.raise(level.slow);
    rig.frame();
    EXPECT_FLOAT_EQ(joint->GetLowerLimit(), -1.0f) << "already there: nothing queued";
    EXPECT_TRUE(rig.world->tasks().empty());
    rig.raise(level.motorOn);
    rig.frame();
    EXPECT_TRUE(joint->IsMotorEnabled());
    ASSERT_EQ(rig.world->tasks().size(), 1u);
    rig.raise(level.widen);
    rig.frame();
    ASSERT_EQ(rig.world->tasks().size(), 1u);
    float const speed = joint->GetMotorSpeed();
    rig.frames(3);
    EXPECT_FLOAT_EQ(joint->GetMotorSpeed(), speed) << "the replaced transition stopped";
    EXPECT_GT(joint->GetUpperLimit(), 0.5f);
}

// A reset puts back limits, motor and the solver's impulses of level start and drops the task;
// it wakes nothing and calls no setter.
TEST(JointTransitions, AResetRestoresTheJointAsBuilt) {
    HingeLevel level;
    Rig rig(level.b.data());
    auto* joint = static_cast<b2RevoluteJoint*>(rig.world->joints()[0]);
    float const startForce = joint->GetReactionForce(60.0f).Length();
    rig.raise(level.motorOn);
    rig.frames(5);
    rig.raise(level.widen);
    rig.frames(5);
    ASSERT_FALSE(rig.world->tasks().empty());
    EXPECT_GT(joint->GetReactionForce(60.0f).Length(), 0.0f);

    rig.raise(level.reset);
    rig.events.dispatch();
    EXPECT_TRUE(rig.world->tasks().empty());
    EXPECT_FLOAT_EQ(joint->GetLowerLimit(), -0.5f);
    EXPECT_FLOAT_EQ(joint->GetUpperLimit(), 0.5f);
    EXPECT_FALSE(joint->IsMotorEnabled());
    EXPECT_FLOAT_EQ(joint->GetMotorSpeed(), 0.0f);
    EXPECT_FLOAT_EQ(joint->GetReactionForce(60.0f).Length(), startForce);
    EXPECT_EQ(joint->GetBodyB(), rig.world->dynamicBodies()[0].getBody());
    // Still in the world's lists: the world steps and destroys it cleanly.
    rig.frames(10);
    EXPECT_EQ(rig.world->physics().box2d().GetJointCount(), 1);
}

// Moving the lower limit first past the upper one would stop the installed Box2D; the window
// rises with the upper limit pushed along.
TEST(JointTransitions, ALimitWindowRisesPastItsUpperLimit) {
    HingeLevel level;
    Rig rig(level.b.data());
    auto* joint = static_cast<b2RevoluteJoint*>(rig.world->joints()[0]);
    rig.raise(level.raise);
    for (int i = 0; i < 30 && (i == 0 || !rig.world->tasks().empty()); ++i) {
        rig.frame();
        EXPECT_LE(joint->GetLowerLimit(), joint->GetUpperLimit());
    }
    EXPECT_TRUE(rig.world->tasks().empty());
    EXPECT_FLOAT_EQ(joint->GetLowerLimit(), 1.0f);
    EXPECT_FLOAT_EQ(joint->GetUpperLimit(), 1.5f);
}

TEST(JointTransitions, RopeStatesMoveTheMaximumLengthAndOtherKindsIgnoreStates) {
    auto b = flatLevel();
    uint32_t const bob = b.boxBody({-20.0f, 5.0f}, {0.3f, 0.3f});
    uint32_t const other = b.boxBody({-25.0f, 5.0f}, {0.3f, 0.3f});
    PristineLevel::RopeJoint rope;
    rope.def.bodyA = -1;
    rope.def.bodyB = int32_t(bob);
    rope.def.localAnchorA = {-20.0f, 9.0f};
    rope.def.localAnchorB = {0.0f, 0.0f};
    rope.def.maxLength = 4.0f;
    RopeJointState shorter;
    shorter.signal = b.signal();
    shorter.maxLength = InterpolatedFloat{3.0f, 0.01f};
    rope.states.push_back(shorter);
    b.joint(rope);
    PristineLevel::WeldJoint weld;
    weld.def.bodyA = int32_t(bob);
    weld.def.bodyB = int32_t(other);
    EmptyJointState empty;
    empty.signal = b.signal();
    weld.states.push_back(empty);
    b.joint(weld);
    Rig rig(b.data());
    auto* distance = static_cast<b2DistanceJoint*>(rig.world->joints()[0]);
    rig.raise(empty.signal);
    rig.frame();
    EXPECT_TRUE(rig.world->tasks().empty());
    rig.raise(shorter.signal);
    rig.frames(8);
    EXPECT_FLOAT_EQ(distance->GetMaxLength(), 3.0f);
    EXPECT_TRUE(rig.world->tasks().empty());
}

// Position, angle, velocities and the previous transform go back; a body whose record is not
// awake is not woken.
TEST(BodyReset, PutsTheBodyBackWithoutWakingASleeper) {
    HingeLevel level;
    auto& b = level.b;
    uint32_t const falling = b.boxBody({-10.0f, 8.0f}, {0.5f, 0.5f});
    uint32_t const fallingReset = b.signal();
    b.data().dynamicBodies[falling].resetSignal = fallingReset;
    b.data().dynamicBodies[falling].bodyDef.angle = 0.3f;
    uint32_t const sleeper = b.boxBody({-30.0f, 0.5f}, {0.5f, 0.5f});
    b.data().dynamicBodies[sleeper].resetSignal = fallingReset;
    b.data().dynamicBodies[sleeper].bodyDef.awake = false;
    Rig rig(b.data());
    b2Body* body = rig.world->dynamicBodies()[falling].getBody();
    b2Body* sleeping = rig.world->dynamicBodies()[sleeper].getBody();
    rig.frames(30);
    ASSERT_LT(body->GetPosition().y, 7.0f);
    ASSERT_FALSE(sleeping->IsAwake());

    rig.raise(fallingReset);
    rig.events.dispatch();
    EXPECT_FLOAT_EQ(body->GetPosition().x, -10.0f);
    EXPECT_FLOAT_EQ(body->GetPosition().y, 8.0f);
    EXPECT_FLOAT_EQ(body->GetAngle(), 0.3f);
    EXPECT_FLOAT_EQ(body->GetLinearVelocity().Length(), 0.0f);
    EXPECT_TRUE(body->IsAwake());
    b2Transform const previous = rig.world->physics().GetPreviousTransform(body);
    EXPECT_FLOAT_EQ(previous.p.y, 8.0f);
    EXPECT_FALSE(sleeping->IsAwake());
}
