// The sample levels of the built data archive on the installed Box2D: every shape becomes a
// fixture, every joint kind is created with its mapped parameters, the world steps, and a ball
// dropped at each place where the player starts comes to rest on the ground.
#include <box2d/box2d.h>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "level/Fixtures.h"
#include "level/LevelCatalog.h"
#include "level/LevelReader.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "physics/particles/Box2DAdapter.h"
#include "physics/particles/PhysicsWorld.h"
#include "testing/TestPaths.h"

using namespace PristineLevel;

namespace {

bool load(std::string const& path, Data& level) {
    static bool const mounted =
        Singleton<FileSystem>::instance().mount((testing_support::binaryDir() / "pak0.pak").string()) != nullptr;
    if (!mounted) {
        return false;
    }
    auto const file = Singleton<FileSystem>::instance().open(path);
    if (!file || file->size() == 0) {
        return false;
    }
    loadPristineLevel(level, file->data(), file->size());
    return true;
}

std::size_t fixtureCount(b2Body* body) {
    std::size_t n = 0;
    for (b2Fixture* f = body->GetFixtureList(); f != nullptr; f = f->GetNext()) {
        ++n;
    }
    return n;
}

std::size_t usableShapes(std::vector<PackedShape> const& shapes) {
    std::size_t n = 0;
    for (PackedShape const& s : shapes) {
        std::uint32_t type = 0;
        n += packedShapeType(s, type) && type <= 3 ? 1 : 0;
    }
    return n;
}

// The level's physics as the world builds it.
struct Built {
    PhysicsWorld physics{b2Vec2(0.0f, -10.8f)};
    b2Body* level = nullptr;
    b2Body* scenery = nullptr;
    std::vector<b2Body*> bodies;
    std::vector<b2Joint*> joints;

    explicit Built(Data& d) {
        b2BodyDef def;
        scenery = physics.box2d().CreateBody(&def);
        createFixtures(d.staticShapes, scenery, nullptr);
        level = physics.box2d().CreateBody(&def);
        createFixtures(d.signalShapes, level, &d.fixtureSignals);
        for (DynamicBody const& record : d.dynamicBodies) {
            b2BodyDef const bodyDef = Box2DAdapter::toBodyDef(record.bodyDef);
            b2Body* body = physics.box2d().CreateBody(&bodyDef);
            createFixtures(record.shapes, body, &d.fixtureSignals);  // as the world builds bodies
            bodies.push_back(body);
        }
        for (JointRecord const& record : d.joints) {
            joints.push_back(Box2DAdapter::createJoint(physics.box2d(), record.def, level, bodies, joints));
        }
    }
};

std::vector<std::string> levelPaths() {
    std::vector<std::string> paths{"levels/sampler.pxl"};
    for (std::size_t i = 0; i < LevelCatalog::count(); ++i) {
        paths.push_back(LevelCatalog::entry(i).path);
    }
    return paths;
}

}  // namespace

TEST(SampleLevels, EveryJointKindIsCreatedWithItsMappedParameters) {
    Data d;
    ASSERT_TRUE(load("levels/sampler.pxl", d)) << "pak0.pak with levels/sampler.pxl";
    Built w(d);
    ASSERT_EQ(w.joints.size(), d.joints.size());
    std::set<int> kinds;
    for (std::size_t i = 0; i < d.joints.size(); ++i) {
        ASSERT_NE(w.joints[i], nullptr) << "joint " << i;
        kinds.insert(d.joints[i].def.which());
    }
    EXPECT_EQ(kinds.size(), 10u);

    for (std::size_t i = 0; i < d.joints.size(); ++i) {
        JointVariant const& v = d.joints[i].def;
        b2Joint* j = w.joints[i];
        if (auto const* distance = boost::get<DistanceJoint>(&v)) {
            auto* dj = static_cast<b2DistanceJoint*>(j);
            EXPECT_EQ(dj->GetLength(), distance->def.length);
            EXPECT_EQ(dj->GetStiffness() > 0.0f, distance->def.frequencyHz > 0.0f);
        } else if (auto const* rope = boost::get<RopeJoint>(&v)) {
            ASSERT_EQ(j->GetType(), e_distanceJoint);
            EXPECT_EQ(static_cast<b2DistanceJoint*>(j)->GetMaxLength(), rope->def.maxLength);
            EXPECT_EQ(static_cast<b2DistanceJoint*>(j)->GetStiffness(), 0.0f);
        } else if (auto const* revolute = boost::get<RevoluteJoint>(&v)) {
            auto* rj = static_cast<b2RevoluteJoint*>(j);
            EXPECT_EQ(rj->IsLimitEnabled(), revolute->def.enableLimit);
            EXPECT_EQ(rj->GetLowerLimit(), std::min(revolute->def.lowerAngle, revolute->def.upperAngle));
        } else if (auto const* weld = boost::get<WeldJoint>(&v)) {
            EXPECT_EQ(static_cast<b2WeldJoint*>(j)->GetStiffness() > 0.0f, weld->def.frequencyHz > 0.0f);
        } else if (auto const* wheel = boost::get<WheelJoint>(&v)) {
            EXPECT_EQ(static_cast<b2WheelJoint*>(j)->GetStiffness() > 0.0f, wheel->def.frequencyHz > 0.0f);
            EXPECT_EQ(static_cast<b2WheelJoint*>(j)->GetMaxMotorTorque(), wheel->def.maxMotorTorque);
        }
    }
    for (int i = 0; i < 120; ++i) {
        w.physics.Step(1.0f / 60.0f, 6, 4);
    }
    for (b2Body* body : w.bodies) {
        EXPECT_TRUE(body->GetPosition().IsValid());
    }
}

TEST(SampleLevels, EveryShapeBecomesAFixtureAndTheGroundHoldsThePlayer) {
    for (std::string const& path : levelPaths()) {
        Data d;
        ASSERT_TRUE(load(path, d)) << path;
        Built w(d);
        EXPECT_EQ(fixtureCount(w.scenery), usableShapes(d.staticShapes)) << path;
        EXPECT_EQ(fixtureCount(w.level), usableShapes(d.signalShapes)) << path;
        for (std::size_t i = 0; i < d.dynamicBodies.size(); ++i) {
            EXPECT_EQ(fixtureCount(w.bodies[i]), usableShapes(d.dynamicBodies[i].shapes)) << path << " body " << i;
        }
        for (b2Joint* j : w.joints) {
            EXPECT_NE(j, nullptr) << path;
        }

        // A player-sized ball at every check point lands on the ground below it and stays there
        // (falling through, it would be some 45 m down by the end).
        ASSERT_FALSE(d.checkPoints.empty()) << path;
        std::vector<b2Body*> balls;
        for (CheckPoint const& c : d.checkPoints) {
            b2BodyDef def;
            def.type = b2_dynamicBody;
            def.position.Set(c.respawnPosition.x, c.respawnPosition.y);
            b2Body* ball = w.physics.box2d().CreateBody(&def);
            b2CircleShape circle;
            circle.m_radius = 0.4f;
            b2FixtureDef fixture;
            fixture.shape = &circle;
            fixture.density = 1.0f;
            fixture.friction = 0.8f;
            fixture.filter.groupIndex = -1;  // the balls pass through each other
            ball->CreateFixture(&fixture);
            balls.push_back(ball);
        }
        // Rolling down a slope it may hop at a dip, but it spends most of the last second on the ground.
        std::vector<int> touchingSteps(balls.size(), 0);
        for (int step = 0; step < 180; ++step) {
            w.physics.Step(1.0f / 60.0f, 8, 3);
            for (std::size_t i = 0; step >= 120 && i < balls.size(); ++i) {
                for (b2ContactEdge* e = balls[i]->GetContactList(); e != nullptr; e = e->next) {
                    if (e->contact->IsTouching()) {
                        ++touchingSteps[i];
                        break;
                    }
                }
            }
        }
        for (std::size_t i = 0; i < balls.size(); ++i) {
            b2Vec2 const p = balls[i]->GetPosition();
            glm::vec2 const start = d.checkPoints[i].respawnPosition;
            EXPECT_GT(p.y, start.y - 8.0f) << path << ": fell through the ground under check point " << i;
            EXPECT_GT(touchingSteps[i], 30) << path << ": the ball from check point " << i << " is not on the ground";
        }
    }
}
