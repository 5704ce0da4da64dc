#include <box2d/box2d.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "physics/particles/PhysicsWorld.h"
#include "testing/TestPaths.h"

namespace {

b2Body* ball(PhysicsWorld& physics, b2Vec2 position, b2Vec2 velocity) {
    b2BodyDef def;
    def.type = b2_dynamicBody;
    def.position = position;
    def.linearVelocity = velocity;
    b2Body* body = physics.CreateBody(def);
    b2CircleShape circle;
    circle.m_radius = 0.5f;
    body->CreateFixture(&circle, 1.0f);
    return body;
}

bool sameTransform(b2Transform const& a, b2Transform const& b) {
    return a.p.x == b.p.x && a.p.y == b.p.y && a.q.s == b.q.s && a.q.c == b.q.c;
}

b2PolygonShape square(float half) {
    b2PolygonShape shape;
    shape.SetAsBox(half, half);
    return shape;
}

// Runs a function from inside a step, through Box2D's contact callback.
struct InsideStep : b2ContactListener {
    std::function<void()> run;
    void BeginContact(b2Contact*) override {
        if (run) {
            run();
        }
    }
};

ParticleDef at(float x, float y) {
    ParticleDef def;
    def.position.Set(x, y);
    return def;
}

struct Goodbyes : ParticleDestructionListener {
    std::vector<std::int32_t> particles;
    std::vector<ParticleGroup*> groups;
    std::function<void()> run;
    void SayGoodbye(std::int32_t index) override {
        particles.push_back(index);
        if (run) {
            run();
        }
    }
    void SayGoodbye(ParticleGroup* group) override { groups.push_back(group); }
};

}  // namespace

TEST(PhysicsWorld, PreviousTransformsAreThoseBeforeTheStepAndTeleportsResetThem) {
    PhysicsWorld physics(b2Vec2(0.0f, -10.0f));
    b2Body* body = ball(physics, b2Vec2(1.0f, 2.0f), b2Vec2(3.0f, 0.0f));
    EXPECT_TRUE(sameTransform(physics.GetPreviousTransform(body), body->GetTransform()));

    for (int i = 0; i < 3; ++i) {
        b2Transform const before = body->GetTransform();
        physics.Step(1.0f / 60.0f, 6, 4);
        EXPECT_FALSE(sameTransform(body->GetTransform(), before));
        EXPECT_TRUE(sameTransform(physics.GetPreviousTransform(body), before)) << "step " << i;
    }

    // A teleport carries nothing along: the previous transform jumps with the body.
    physics.SetTransform(body, b2Vec2(-20.0f, 5.0f), 1.0f);
    EXPECT_TRUE(sameTransform(physics.GetPreviousTransform(body), body->GetTransform()));
    EXPECT_FLOAT_EQ(body->GetPosition().x, -20.0f);

    // A body made behind the world's back is tracked from its first step on.
    b2BodyDef def;
    def.type = b2_dynamicBody;
    b2Body* raw = physics.box2d().CreateBody(&def);
    b2Transform const start = raw->GetTransform();
    physics.Step(1.0f / 60.0f, 6, 4);
    EXPECT_TRUE(sameTransform(physics.GetPreviousTransform(raw), start));
    physics.DestroyBody(raw);
}

TEST(PhysicsWorld, CallsFromInsideAStepAreRefused) {
    PhysicsWorld physics(b2Vec2(0.0f, -10.0f));
    physics.SetParticleRadius(0.1f);
    b2PolygonShape const shape = square(0.3f);
    ParticleGroupDef def;
    def.shape = &shape;
    ParticleGroup* group = physics.CreateParticleGroup(def);
    ASSERT_NE(group, nullptr);
    std::int32_t const count = physics.GetParticleCount();
    ASSERT_GT(count, 0);

    // Box2D's part of the step: two overlapping balls touch on the first step.
    InsideStep inside;
    physics.box2d().SetContactListener(&inside);
    ball(physics, b2Vec2(0.0f, 10.0f), b2Vec2(0.0f, 0.0f));
    ball(physics, b2Vec2(0.2f, 10.0f), b2Vec2(0.0f, 0.0f));
    int runs = 0;
    inside.run = [&] {
        ++runs;
        EXPECT_TRUE(physics.IsLocked());
        EXPECT_EQ(physics.CreateParticleGroup(def), nullptr);
        physics.DestroyParticlesInGroup(group, true);
        EXPECT_EQ(physics.CreateBody(b2BodyDef()), nullptr);
        EXPECT_EQ(physics.CreateParticle(ParticleDef()), -1);
    };
    physics.Step(1.0f / 60.0f, 6, 4);
    EXPECT_GT(runs, 0);
    EXPECT_FALSE(physics.IsLocked());
    physics.box2d().SetContactListener(nullptr);
    physics.Step(1.0f / 60.0f, 6, 4);
    EXPECT_EQ(physics.GetParticleCount(), count) << "the marking inside the step was ignored";

    // The particle part of the step, which runs before Box2D's own lock.
    Goodbyes goodbyes;
    physics.SetParticleDestructionListener(&goodbyes);
    physics.DestroyParticlesInGroup(group, true);
    goodbyes.run = [&] {
        EXPECT_TRUE(physics.IsLocked());
        EXPECT_EQ(physics.CreateParticleGroup(def), nullptr);
    };
    physics.Step(1.0f / 60.0f, 6, 4);
    EXPECT_EQ(std::int32_t(goodbyes.particles.size()), count);
    EXPECT_EQ(physics.GetParticleCount(), 0);
    EXPECT_EQ(goodbyes.groups, std::vector<ParticleGroup*>{group});
    EXPECT_EQ(physics.GetParticleGroupCount(), 0);
}

TEST(PhysicsWorld, GroupsFillTheirShapeUpToTheMaximumAndLeaveOnce) {
    PhysicsWorld physics(b2Vec2(0.0f, 0.0f));
    physics.SetParticleRadius(0.1f);  // stride 0.15
    physics.SetParticleMaxCount(300);
    b2PolygonShape const shape = square(1.5f);  // 20 x 20 lattice points
    ParticleGroupDef def;
    def.shape = &shape;
    def.position.Set(10.0f, 0.0f);
    def.flags = destructionListenerParticle;
    ParticleGroup* a = physics.CreateParticleGroup(def);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->GetBufferIndex(), 0);
    EXPECT_EQ(a->GetParticleCount(), 300);
    EXPECT_GT(physics.GetParticlePositionBuffer()[0].x, 8.0f);

    physics.SetParticleMaxCount(0);
    def.flags = 0;
    b2PolygonShape const small = square(0.1f);
    def.shape = &small;
    ParticleGroup* b = physics.CreateParticleGroup(def);
    std::int32_t const bCount = b->GetParticleCount();
    ASSERT_GT(bCount, 0);
    def.shape = nullptr;
    def.destroyAutomatically = false;
    ParticleGroup* empty = physics.CreateParticleGroup(def);
    EXPECT_EQ(empty->GetParticleCount(), 0);

    // Marked twice, removed once; the next group's range moves down with the buffers. Particles
    // made with the listener flag are reported whatever the marking asked.
    Goodbyes goodbyes;
    physics.SetParticleDestructionListener(&goodbyes);
    physics.DestroyParticlesInGroup(a, false);
    physics.DestroyParticlesInGroup(a, false);
    physics.Step(0.0f, 6, 4);
    EXPECT_EQ(physics.GetParticleCount(), 300 + bCount) << "no particle step at dt 0";
    physics.Step(1.0f / 60.0f, 6, 4);
    EXPECT_EQ(physics.GetParticleCount(), bCount);
    EXPECT_EQ(goodbyes.particles.size(), 300u);
    EXPECT_EQ(goodbyes.groups, std::vector<ParticleGroup*>{a});
    EXPECT_EQ(b->GetBufferIndex(), 0);
    EXPECT_EQ(b->GetParticleCount(), bCount);
    EXPECT_EQ(physics.GetParticleGroupCount(), 2);
}

TEST(PhysicsWorld, BoxQueriesReportFixturesThenParticles) {
    PhysicsWorld physics(b2Vec2(0.0f, 0.0f));
    ball(physics, b2Vec2(0.0f, 0.0f), b2Vec2(0.0f, 0.0f));
    ball(physics, b2Vec2(1.5f, 0.0f), b2Vec2(0.0f, 0.0f));
    physics.CreateParticle(at(0.5f, 0.5f));
    physics.CreateParticle(at(9.0f, 9.0f));
    physics.CreateParticle(at(-0.5f, -0.5f));

    struct Recorder : PhysicsWorld::QueryCallback {
        std::vector<std::string> seen;
        bool moreFixtures = true;
        bool moreParticles = true;
        bool ReportFixture(b2Fixture*) override {
            seen.push_back("fixture");
            return moreFixtures;
        }
        bool ReportParticle(std::int32_t index) override {
            seen.push_back("particle " + std::to_string(index));
            return moreParticles;
        }
    };
    b2AABB box;
    box.lowerBound.Set(-1.0f, -1.0f);
    box.upperBound.Set(2.0f, 1.0f);
    Recorder all;
    physics.QueryAABB(&all, box);
    EXPECT_EQ(all.seen, (std::vector<std::string>{"fixture", "fixture", "particle 0", "particle 2"}));

    // Ending the fixture part still reports particles; ending the particle part ends the query.
    Recorder stops;
    stops.moreFixtures = false;
    stops.moreParticles = false;
    physics.QueryAABB(&stops, box);
    EXPECT_EQ(stops.seen, (std::vector<std::string>{"fixture", "particle 0"}));

    // A callback that knows nothing of particles sees fixtures only.
    struct FixturesOnly : PhysicsWorld::QueryCallback {
        int fixtures = 0;
        bool ReportFixture(b2Fixture*) override { return ++fixtures > 0; }
    } fixturesOnly;
    physics.QueryAABB(&fixturesOnly, box);
    EXPECT_EQ(fixturesOnly.fixtures, 2);
}

// Bodies jump through PhysicsWorld::SetTransform so that their previous transform jumps too.
// The level library sits below the physics world (its fixture code only refreshes a body's boxes
// in place) and is not scanned.
TEST(PhysicsWorld, NoRawBodyTeleportsOutsideThePhysicsLayer) {
    namespace fs = std::filesystem;
    fs::path const root = testing_support::sourceDir();
    std::vector<std::string> raw;
    for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
        std::string const relative = fs::relative(it->path(), root).generic_string();
        if (it->is_directory() &&
            (relative.rfind("build", 0) == 0 || relative[0] == '.' || relative == "physics" || relative == "level")) {
            it.disable_recursion_pending();
            continue;
        }
        std::string const ext = it->path().extension().string();
        if (ext != ".cpp" && ext != ".h") {
            continue;
        }
        std::ifstream in(it->path());
        std::stringstream text;
        text << in.rdbuf();
        std::string const s = text.str();
        for (std::size_t at = s.find("SetTransform("); at != std::string::npos; at = s.find("SetTransform(", at + 1)) {
            // Box2D's takes (position, angle), the physics world's (body, position, angle).
            int depth = 0;
            int commas = 0;
            std::size_t i = at + 12;
            for (; i < s.size(); ++i) {
                char const c = s[i];
                depth += (c == '(' || c == '{' || c == '[') ? 1 : ((c == ')' || c == '}' || c == ']') ? -1 : 0);
                commas += (c == ',' && depth == 1) ? 1 : 0;
                if (depth == 0) {
                    break;
                }
            }
            if (commas == 1) {
                raw.push_back(relative);
            }
        }
    }
    EXPECT_TRUE(raw.empty()) << "raw b2Body::SetTransform in " << ::testing::PrintToString(raw);
}
