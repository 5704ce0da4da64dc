#include <box2d/box2d.h>
#include <gtest/gtest.h>

#include "level/JointDefinitions.h"

namespace {

struct Hinge {
    b2World world{b2Vec2(0.0f, 0.0f)};
    b2RevoluteJoint* joint = nullptr;
    b2DistanceJoint* rope = nullptr;
    Hinge() {
        b2BodyDef def;
        b2Body* ground = world.CreateBody(&def);
        def.type = b2_dynamicBody;
        b2Body* wheel = world.CreateBody(&def);
        b2RevoluteJointDef rd;
        rd.bodyA = ground;
        rd.bodyB = wheel;
        rd.lowerAngle = 0.0f;
        rd.upperAngle = 1.0f;
        joint = static_cast<b2RevoluteJoint*>(world.CreateJoint(&rd));
        b2DistanceJointDef dd;
        dd.bodyA = ground;
        dd.bodyB = wheel;
        dd.minLength = 0.0f;
        dd.maxLength = 2.0f;
        rope = static_cast<b2DistanceJoint*>(world.CreateJoint(&dd));
    }
};

}  // namespace

TEST(JointStates, RevoluteTargetsMoveOneAfterAnother) {
    Hinge h;
    RevoluteJointState state;
    state.enableLimit = true;
    state.enableMotor = true;
    state.lowerAngle = InterpolatedFloat{-0.5f, 0.25f};
    state.upperAngle = InterpolatedFloat{2.0f, 0.5f};
    state.motorSpeed = InterpolatedFloat{1.0f, 1.0f};

    EXPECT_TRUE(state.apply(*h.joint));
    EXPECT_TRUE(h.joint->IsLimitEnabled());
    EXPECT_TRUE(h.joint->IsMotorEnabled());

    EXPECT_FALSE(state.step(*h.joint, 1.0f));
    EXPECT_FLOAT_EQ(h.joint->GetLowerLimit(), -0.25f);
    EXPECT_FLOAT_EQ(h.joint->GetUpperLimit(), 1.0f);  // waits for the lower limit
    EXPECT_FALSE(state.step(*h.joint, 1.0f));
    EXPECT_FLOAT_EQ(h.joint->GetLowerLimit(), -0.5f);
    EXPECT_FLOAT_EQ(h.joint->GetUpperLimit(), 1.5f);
    EXPECT_EQ(h.joint->GetMotorSpeed(), 0.0f);
    // The upper limit arrives, and in the same call the motor speed gets its turn.
    EXPECT_TRUE(state.step(*h.joint, 1.0f));
    EXPECT_FLOAT_EQ(h.joint->GetUpperLimit(), 2.0f);
    EXPECT_EQ(h.joint->GetMotorSpeed(), 1.0f);

    EXPECT_FALSE(state.apply(*h.joint));  // everything in place
    EXPECT_FALSE(RevoluteJointState{}.apply(*h.joint));
    EXPECT_TRUE(RevoluteJointState{}.step(*h.joint, 1.0f));
}

TEST(JointStates, LowerLimitPassingTheUpperOneDoesNotAbort) {
    Hinge h;  // limits [0, 1]
    RevoluteJointState state;
    state.lowerAngle = InterpolatedFloat{3.0f, 2.0f};
    state.upperAngle = InterpolatedFloat{4.0f, 10.0f};
    EXPECT_FALSE(state.step(*h.joint, 1.0f));
    EXPECT_EQ(h.joint->GetLowerLimit(), 2.0f);
    EXPECT_EQ(h.joint->GetUpperLimit(), 2.0f);  // pushed along
    EXPECT_TRUE(state.step(*h.joint, 1.0f));
    EXPECT_EQ(h.joint->GetLowerLimit(), 3.0f);
    EXPECT_EQ(h.joint->GetUpperLimit(), 4.0f);
}

TEST(JointStates, TargetsHeldBackByTheOtherLimitCountAsReached) {
    // Stepping until done, with a bound: a transition that never ends blocks the joint's later states.
    auto stepsToFinish = [](b2RevoluteJoint& joint, RevoluteJointState const& state) {
        for (int i = 1; i <= 1000; ++i) {
            if (state.step(joint, 1.0f)) return i;
        }
        return -1;
    };
    {
        Hinge h;  // limits [0, 1]
        RevoluteJointState state;
        state.upperAngle = InterpolatedFloat{-0.5f, 0.25f};
        state.motorSpeed = InterpolatedFloat{2.0f, 1.0f};
        EXPECT_TRUE(state.apply(*h.joint));
        EXPECT_EQ(stepsToFinish(*h.joint, state), 6);  // 4 steps down to the lower limit, then the motor
        EXPECT_EQ(h.joint->GetLowerLimit(), 0.0f);
        EXPECT_EQ(h.joint->GetUpperLimit(), 0.0f);
        EXPECT_EQ(h.joint->GetMotorSpeed(), 2.0f);
    }
    {
        // The lower limit pushes the upper one up; the upper target is then below it.
        Hinge h;
        RevoluteJointState state;
        state.lowerAngle = InterpolatedFloat{2.0f, 1.0f};
        state.upperAngle = InterpolatedFloat{1.5f, 1.0f};
        EXPECT_EQ(stepsToFinish(*h.joint, state), 2);
        EXPECT_EQ(h.joint->GetLowerLimit(), 2.0f);
        EXPECT_EQ(h.joint->GetUpperLimit(), 2.0f);
    }
}

TEST(JointStates, RopeLengthSteps) {
    Hinge h;
    RopeJointState state;
    EXPECT_FALSE(state.apply(*h.rope));
    EXPECT_TRUE(state.step(*h.rope, 1.0f));  // no target: done at once

    state.maxLength = InterpolatedFloat{1.0f, 0.5f};
    EXPECT_TRUE(state.apply(*h.rope));
    EXPECT_FALSE(state.step(*h.rope, 1.0f));
    EXPECT_FLOAT_EQ(h.rope->GetMaxLength(), 1.5f);
    EXPECT_TRUE(state.step(*h.rope, 1.0f));
    EXPECT_FLOAT_EQ(h.rope->GetMaxLength(), 1.0f);

    // A target below the joint's minimum ends instead of stepping for ever.
    state.maxLength = InterpolatedFloat{0.0f, 100.0f};
    EXPECT_TRUE(state.apply(*h.rope));
    EXPECT_TRUE(state.step(*h.rope, 1.0f));
    EXPECT_GE(h.rope->GetMaxLength(), h.rope->GetMinLength());

    b2Joint& any = *h.joint;
    EXPECT_FALSE(EmptyJointState{}.apply(any));
    EXPECT_TRUE(EmptyJointState{}.step(any, 1.0f));
}
