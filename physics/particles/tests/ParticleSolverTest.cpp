#include <box2d/box2d.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "physics/particles/ComputeDistance.h"
#include "physics/particles/PhysicsWorld.h"

namespace {

constexpr float dt = 1.0f / 60.0f;

b2TimeStep timeStep() {
    b2TimeStep step{};
    step.dt = dt;
    step.inv_dt = 1.0f / dt;
    return step;
}

ParticleDef at(float x, float y, std::uint32_t flags = 0, b2Vec2 v = b2Vec2(0.0f, 0.0f)) {
    ParticleDef def;
    def.position.Set(x, y);
    def.velocity = v;
    def.flags = flags;
    return def;
}

b2Body* box(PhysicsWorld& physics, b2BodyType type, b2Vec2 center, float hx, float hy, std::uint16_t mask = 0xFFFF,
            bool sensor = false, float density = 1.0f) {
    b2BodyDef def;
    def.type = type;
    def.position = center;
    b2Body* body = physics.CreateBody(def);
    b2PolygonShape shape;
    shape.SetAsBox(hx, hy);
    b2FixtureDef fixture;
    fixture.shape = &shape;
    fixture.filter.maskBits = mask;
    fixture.isSensor = sensor;
    fixture.density = density;
    body->CreateFixture(&fixture);
    return body;
}

bool finite(b2Vec2 v) { return std::isfinite(v.x) && std::isfinite(v.y); }

// Walls inside [-2, 2] x [0, 9], filled from a 3.8 x 5 m block with `count` particles of radius
// 0.05; optionally a light box dropped on top and a static chain threaded through the liquid.
struct Tank {
    PhysicsWorld physics{b2Vec2(0.0f, -10.0f)};
    b2Body* floater = nullptr;

    Tank(std::uint32_t count, bool withBox, int chainChildren = 0) {
        physics.SetParticleRadius(0.05f);
        physics.SetParticleMaxCount(count);
        box(physics, b2_staticBody, b2Vec2(0.0f, -0.5f), 3.0f, 0.5f);
        box(physics, b2_staticBody, b2Vec2(-2.5f, 4.5f), 0.5f, 5.5f);
        box(physics, b2_staticBody, b2Vec2(2.5f, 4.5f), 0.5f, 5.5f);
        if (chainChildren > 0) {
            std::vector<b2Vec2> points;
            for (int i = 0; i <= chainChildren; ++i) {
                float const t = float(i) / float(chainChildren);
                points.emplace_back(-1.9f + 3.8f * t, 1.0f + 0.3f * std::sin(40.0f * t));
            }
            b2ChainShape chain;
            chain.CreateChain(points.data(), std::int32_t(points.size()), points.front(), points.back());
            physics.CreateBody(b2BodyDef())->CreateFixture(&chain, 0.0f);
        }
        b2PolygonShape block;
        block.SetAsBox(1.9f, 2.5f, b2Vec2(0.0f, 2.55f), 0.0f);
        ParticleGroupDef def;
        def.shape = &block;
        physics.CreateParticleGroup(def);
        if (withBox) {
            floater = box(physics, b2_dynamicBody, b2Vec2(0.3f, 6.0f), 0.3f, 0.3f, 0xFFFF, false, 0.4f);
        }
    }
};

}  // namespace

TEST(ParticleDistance, EachShapeKindGivesItsDistanceAndOutwardNormal) {
    b2Transform xf(b2Vec2(1.0f, 2.0f), b2Rot(0.5f * b2_pi));  // a quarter turn
    float d = 0.0f;
    b2Vec2 n;

    b2CircleShape circle;
    circle.m_p.Set(1.0f, 0.0f);  // world (1, 3)
    circle.m_radius = 0.5f;
    computeDistance(circle, xf, b2Vec2(1.0f, 5.0f), 0, &d, &n);
    EXPECT_NEAR(d, 1.5f, 1e-5f);
    EXPECT_NEAR(n.y, 1.0f, 1e-5f);
    computeDistance(circle, b2Transform(b2Vec2(0.0f, 2.0f), b2Rot(0.0f)), b2Vec2(1.0f, 2.0f), 0, &d, &n);
    EXPECT_EQ(d, -0.5f);
    EXPECT_EQ(n, b2Vec2(0.0f, 1.0f)) << "the centre pushes up";

    b2PolygonShape square;
    square.SetAsBox(1.0f, 1.0f);  // world [0, 2] x [1, 3]
    computeDistance(square, xf, b2Vec2(1.8f, 2.0f), 0, &d, &n);
    EXPECT_NEAR(d, -0.2f, 1e-5f) << "inside: minus the depth behind the nearest face";
    EXPECT_NEAR(n.x, 1.0f, 1e-5f);
    computeDistance(square, xf, b2Vec2(3.0f, 4.0f), 0, &d, &n);
    EXPECT_NEAR(d, std::sqrt(2.0f), 1e-5f) << "beyond a corner: to the vertex";
    EXPECT_NEAR(n.x, std::sqrt(0.5f), 1e-5f);
    EXPECT_NEAR(n.y, std::sqrt(0.5f), 1e-5f);

    b2EdgeShape edge;
    edge.SetTwoSided(b2Vec2(0.0f, 0.0f), b2Vec2(2.0f, 0.0f));  // world (1, 2) .. (1, 4)
    computeDistance(edge, xf, b2Vec2(0.0f, 3.0f), 0, &d, &n);
    EXPECT_NEAR(d, 1.0f, 1e-5f);
    EXPECT_NEAR(n.x, -1.0f, 1e-5f);
    computeDistance(edge, xf, b2Vec2(1.0f, 6.0f), 0, &d, &n);
    EXPECT_NEAR(d, 2.0f, 1e-5f) << "past the end";

    b2ChainShape chain;
    b2Vec2 const pts[] = {{0, 0}, {1, 0}, {1, 1}};
    chain.CreateChain(pts, 3, pts[0], pts[2]);
    computeDistance(chain, b2Transform(b2Vec2(0, 0), b2Rot(0)), b2Vec2(2.0f, 0.5f), 1, &d, &n);
    EXPECT_NEAR(d, 1.0f, 1e-5f);
    computeDistance(chain, b2Transform(b2Vec2(0, 0), b2Rot(0)), b2Vec2(2.0f, 0.5f), 7, &d, &n);
    EXPECT_GT(d, 1e30f) << "a child past the chain is far away, not read";
}

TEST(ParticleSolver, FreeFallAndTheFixedPassesActAsDescribed) {
    PhysicsWorld physics(b2Vec2(0.0f, -10.0f));
    physics.SetParticleRadius(0.05f);
    ParticleSystem& s = physics.particles();
    // Free fall caps at one diameter per step.
    s.CreateParticle(at(0.0f, 50.0f, 0, b2Vec2(0.0f, -100.0f)));
    // Two at rest half a diameter apart: weight 0.5 stays under the pressure window.
    s.CreateParticle(at(10.0f, 50.0f));
    s.CreateParticle(at(10.05f, 50.0f));
    // A wall particle stays where it is under gravity and the pressure of a neighbour.
    s.CreateParticle(at(20.0f, 50.0f, wallParticle));
    for (int i = 0; i < 3; ++i) {
        s.CreateParticle(at(20.0f + 0.01f * float(i + 1), 50.0f));
    }
    physics.SetParticleGravityScale(0.0f);
    physics.Step(dt, 6, 4);
    b2Vec2 const* v = s.GetVelocityBuffer();
    EXPECT_NEAR(v[0].Length(), 6.0f, 1e-4f);
    EXPECT_EQ(v[1], b2Vec2(0.0f, 0.0f));
    EXPECT_EQ(v[2], b2Vec2(0.0f, 0.0f));
    EXPECT_EQ(s.GetPositionBuffer()[3], b2Vec2(20.0f, 50.0f));
    physics.SetParticleGravityScale(1.0f);
    for (int i = 0; i < 30; ++i) {
        physics.Step(dt, 6, 4);
        EXPECT_LE(b2Distance(s.GetPositionBuffer()[0], b2Vec2(0.0f, 50.0f - 0.1f * float(i + 2))), 1e-3f);
    }
    EXPECT_EQ(s.GetPositionBuffer()[3], b2Vec2(20.0f, 50.0f));
}

TEST(ParticleSolver, OptionalPassesOnHandPlacedPairs) {
    b2TimeStep const step = timeStep();
    auto pair = [](std::uint32_t flagsA, std::uint32_t flagsB, float gap, b2Vec2 va, b2Vec2 vb) {
        auto s = std::make_unique<ParticleSystem>(nullptr, nullptr);
        s->CreateParticle(at(0.0f, 0.0f, flagsA, va));
        s->CreateParticle(at(gap, 0.0f, flagsB, vb));
        s->UpdateContacts(false);
        return s;
    };
    // Viscous: the velocities move toward each other by strength x weight.
    auto viscous = pair(viscousParticle, 0, 0.5f, b2Vec2(1.0f, 0.0f), b2Vec2(0.0f, 1.0f));
    viscous->SolveViscous();
    EXPECT_NEAR(viscous->GetVelocityBuffer()[0].x, 1.0f - 0.125f, 1e-3f);
    EXPECT_NEAR(viscous->GetVelocityBuffer()[1].x, 0.125f, 1e-3f);

    // Powder: pushed apart above weight 0.25, not below.
    auto powder = pair(powderParticle, powderParticle, 0.5f, b2Vec2(0.0f, 0.0f), b2Vec2(0.0f, 0.0f));
    powder->SolvePowder(step);
    EXPECT_NEAR(powder->GetVelocityBuffer()[0].x, -0.5f * 60.0f * 0.25f, 0.02f);
    auto loose = pair(powderParticle, powderParticle, 0.8f, b2Vec2(0.0f, 0.0f), b2Vec2(0.0f, 0.0f));
    loose->SolvePowder(step);
    EXPECT_EQ(loose->GetVelocityBuffer()[0], b2Vec2(0.0f, 0.0f));

    // Tensile: a lone pair (accumulated weight under 2) is drawn together.
    auto tensile = pair(tensileParticle, 0, 0.8f, b2Vec2(0.0f, 0.0f), b2Vec2(0.0f, 0.0f));
    tensile->SolveTensile(step);
    EXPECT_GT(tensile->GetVelocityBuffer()[0].x, 0.0f);
    EXPECT_LT(tensile->GetVelocityBuffer()[1].x, 0.0f);

    // Colour mixing: 200 and 100 meet at 150; one flag alone mixes nothing.
    for (bool both : {true, false}) {
        ParticleSystem s(nullptr, nullptr);
        ParticleDef a = at(0.0f, 0.0f, colorMixingParticle);
        a.color = ParticleColor{200, 0, 10, 255};
        ParticleDef b = at(0.5f, 0.0f, both ? colorMixingParticle : 0);
        b.color = ParticleColor{100, 0, 0, 255};
        s.CreateParticle(a);
        s.CreateParticle(b);
        s.UpdateContacts(false);
        s.SolveColorMixing();
        EXPECT_EQ(s.GetColorBuffer()[0].r, both ? 150 : 200);
        EXPECT_EQ(s.GetColorBuffer()[1].r, both ? 150 : 100);
        EXPECT_EQ(s.GetColorBuffer()[0].b, both ? 5 : 10);
    }

    // Pressure: three on top of each other (weight over 1) fly apart; damping stops approach.
    ParticleSystem crowd(nullptr, nullptr);
    for (float x : {0.0f, 0.1f, 0.2f}) {
        crowd.CreateParticle(at(x, 0.0f));
    }
    crowd.UpdateContacts(false);
    crowd.SolvePressure(step);
    EXPECT_LT(crowd.GetVelocityBuffer()[0].x, 0.0f);
    EXPECT_GT(crowd.GetVelocityBuffer()[2].x, 0.0f);
    auto closing = pair(0, 0, 0.5f, b2Vec2(1.0f, 0.0f), b2Vec2(-1.0f, 0.0f));
    closing->SolveDamping();
    EXPECT_NEAR(closing->GetVelocityBuffer()[0].x, 0.0f, 0.01f) << "weight 0.5 x closing speed 2";
    auto parting = pair(0, 0, 0.5f, b2Vec2(-1.0f, 0.0f), b2Vec2(1.0f, 0.0f));
    parting->SolveDamping();
    EXPECT_EQ(parting->GetVelocityBuffer()[0].x, -1.0f);
}

TEST(ParticleSolver, GroupPassesKeepShapesAndPushGroupsApart) {
    PhysicsWorld physics(b2Vec2(0.0f, 0.0f));
    physics.SetParticleRadius(0.1f);
    ParticleSystem& s = physics.particles();
    b2PolygonShape square;
    square.SetAsBox(0.3f, 0.3f);
    auto spread = [&](ParticleGroup* g) {
        float most = 0.0f;
        for (std::int32_t i = g->GetBufferIndex(); i < g->GetBufferIndex() + g->GetParticleCount(); ++i) {
            for (std::int32_t j = i + 1; j < g->GetBufferIndex() + g->GetParticleCount(); ++j) {
                most = std::max(most, b2Distance(s.GetPositionBuffer()[i], s.GetPositionBuffer()[j]));
            }
        }
        return most;
    };
    // Spring, elastic and rigid groups spun and stretched come back to (or keep) their size;
    // a plain liquid square does not.
    struct Case {
        std::uint32_t flags;
        std::uint32_t groupFlags;
        float x;
    };
    std::vector<std::pair<ParticleGroup*, float>> groups;
    for (Case c : {Case{springParticle, 0, 0.0f}, Case{elasticParticle, 0, 5.0f}, Case{0, rigidParticleGroup, 10.0f}}) {
        ParticleGroupDef def;
        def.shape = &square;
        def.flags = c.flags;
        def.groupFlags = c.groupFlags;
        def.position.Set(c.x, 0.0f);
        def.angularVelocity = 2.0f;
        ParticleGroup* g = physics.CreateParticleGroup(def);
        groups.emplace_back(g, spread(g));
    }
    EXPECT_GT(s.GetPairCount(), 0);
    EXPECT_GT(s.GetTriadCount(), 0);
    // Pull the spring and elastic groups out by a fifth.
    for (auto [g, size] : groups) {
        if ((g->GetGroupFlags() & rigidParticleGroup) == 0) {
            b2Vec2 const c = s.GetPositionBuffer()[g->GetBufferIndex() + g->GetParticleCount() / 2];
            for (std::int32_t i = g->GetBufferIndex(); i < g->GetBufferIndex() + g->GetParticleCount(); ++i) {
                b2Vec2& p = s.GetPositionBuffer()[i];
                p = c + 1.2f * (p - c);
            }
        }
    }
    for (int i = 0; i < 120; ++i) {
        physics.Step(dt, 6, 4);
    }
    for (auto [g, size] : groups) {
        EXPECT_NEAR(spread(g), size, 0.1f * size) << "group flags " << g->GetGroupFlags();
    }
    // A spring pair pressed onto one point has no direction to push along: no push, no NaN.
    ParticleSystem::Pair const pair = s.GetPairs()[0];
    s.GetPositionBuffer()[pair.indexB] = s.GetPositionBuffer()[pair.indexA];
    s.SolveSpring(timeStep());
    EXPECT_TRUE(finite(s.GetVelocityBuffer()[pair.indexA]) && finite(s.GetVelocityBuffer()[pair.indexB]));
    ParticleGroup* rigid = groups[2].first;
    EXPECT_GT(std::abs(rigid->GetTransform().q.GetAngle()), 1.0f) << "turned as one body";

    // Solid: two overlapping solid groups are pushed apart by their depth.
    PhysicsWorld solid(b2Vec2(0.0f, 0.0f));
    solid.SetParticleRadius(0.1f);
    b2PolygonShape big;
    big.SetAsBox(0.5f, 0.5f);
    ParticleGroupDef def;
    def.shape = &big;
    def.groupFlags = solidParticleGroup;
    ParticleGroup* left = solid.CreateParticleGroup(def);
    def.position.Set(0.6f, 0.0f);
    ParticleGroup* right = solid.CreateParticleGroup(def);
    ASSERT_NE(solid.particles().GetDepthBuffer(), nullptr);
    solid.Step(dt, 6, 4);
    auto meanX = [&](ParticleGroup* g) {
        float sum = 0.0f;
        for (std::int32_t i = g->GetBufferIndex(); i < g->GetBufferIndex() + g->GetParticleCount(); ++i) {
            sum += solid.particles().GetVelocityBuffer()[i].x;
        }
        return sum / float(g->GetParticleCount());
    };
    EXPECT_LT(meanX(left), -0.1f);
    EXPECT_GT(meanX(right), 0.1f);
}

TEST(ParticleSolver, FixturesStopParticlesAndTakeTheirPush) {
    PhysicsWorld physics(b2Vec2(0.0f, 0.0f));
    physics.SetParticleRadius(0.05f);
    physics.SetParticleCollisionMask(0x0802);
    b2Body* floor = box(physics, b2_staticBody, b2Vec2(0.0f, 0.0f), 1.0f, 0.5f, 0x0002);
    box(physics, b2_staticBody, b2Vec2(5.0f, 0.0f), 1.0f, 0.5f, 0x0001);         // masked out
    box(physics, b2_staticBody, b2Vec2(10.0f, 0.0f), 1.0f, 0.5f, 0xFFFF, true);  // a sensor
    ParticleSystem& s = physics.particles();
    // Fast enough to cross the top face in this step: stopped one slop above it.
    for (float x : {0.0f, 5.0f, 10.0f}) {
        s.CreateParticle(at(x, 0.55f, 0, b2Vec2(0.0f, -6.0f)));
    }
    physics.Step(dt, 6, 4);
    EXPECT_NEAR(s.GetPositionBuffer()[0].y, 0.505f, 1e-4f);
    EXPECT_LT(s.GetPositionBuffer()[1].y, 0.5f);
    EXPECT_LT(s.GetPositionBuffer()[2].y, 0.5f);
    EXPECT_EQ(floor->GetLinearVelocity(), b2Vec2(0.0f, 0.0f));
    ASSERT_EQ(physics.GetParticleBodyContactCount(), 1);
    ParticleBodyContact const& c = physics.GetParticleBodyContacts()[0];
    EXPECT_EQ(c.body, floor);
    EXPECT_NEAR(c.weight, 1.0f - 0.005f / 0.1f, 1e-3f);
    EXPECT_NEAR(c.normal.y, -1.0f, 1e-5f);

    // A circle: exactly one diameter from its surface is no contact, half a diameter weight 0.5.
    PhysicsWorld round(b2Vec2(0.0f, 0.0f));
    round.SetParticleRadius(0.5f);
    b2CircleShape circle;
    circle.m_radius = 1.0f;
    round.CreateBody(b2BodyDef())->CreateFixture(&circle, 0.0f);
    round.particles().CreateParticle(at(0.0f, 2.0f));
    round.particles().CreateParticle(at(0.0f, -1.5f));
    round.particles().UpdateContacts(false);
    round.particles().UpdateBodyContacts();
    ASSERT_EQ(round.GetParticleBodyContactCount(), 1);
    EXPECT_EQ(round.GetParticleBodyContacts()[0].index, 1);
    EXPECT_NEAR(round.GetParticleBodyContacts()[0].weight, 0.5f, 1e-5f);

    // Near the joint of two chain children: one contact for each child, not one per child for
    // each time the world's query hands the chain over.
    PhysicsWorld chained(b2Vec2(0.0f, 0.0f));
    chained.SetParticleRadius(0.05f);
    std::vector<b2Vec2> points;
    for (int i = 0; i <= 10; ++i) {
        points.emplace_back(float(i), 0.0f);
    }
    b2ChainShape chain;
    chain.CreateChain(points.data(), 11, points.front(), points.back());
    chained.CreateBody(b2BodyDef())->CreateFixture(&chain, 0.0f);
    chained.particles().CreateParticle(at(5.0f, 0.05f));
    chained.particles().UpdateContacts(false);
    chained.particles().UpdateBodyContacts();
    EXPECT_EQ(chained.GetParticleBodyContactCount(), 2);

    // A dynamic box in a stream is pushed along; a falling body's own motion carries nothing.
    PhysicsWorld stream(b2Vec2(0.0f, 0.0f));
    stream.SetParticleRadius(0.05f);
    b2Body* crate = box(stream, b2_dynamicBody, b2Vec2(1.0f, 0.0f), 0.2f, 0.2f);
    b2PolygonShape jet;
    jet.SetAsBox(0.3f, 0.15f);
    ParticleGroupDef def;
    def.shape = &jet;
    def.linearVelocity.Set(4.0f, 0.0f);
    stream.CreateParticleGroup(def);
    for (int i = 0; i < 30; ++i) {
        stream.Step(dt, 6, 4);
    }
    EXPECT_GT(crate->GetLinearVelocity().x, 0.1f);
}

// A wall particle against a static fixture has no finite pair mass. Every pass that scales by it
// must stay finite, or the next step's tags spread NaN to every particle.
TEST(ParticleSolver, WallParticlesOnStaticFixturesStayFinite) {
    PhysicsWorld physics(b2Vec2(0.0f, -10.0f));
    physics.SetParticleRadius(0.05f);
    box(physics, b2_staticBody, b2Vec2(0.0f, -0.5f), 2.0f, 0.5f);
    b2BodyDef kinematic;
    kinematic.type = b2_kinematicBody;
    kinematic.position.Set(0.5f, 0.3f);
    kinematic.linearVelocity.Set(0.0f, -0.1f);
    b2Body* lift = physics.CreateBody(kinematic);
    b2PolygonShape plate;
    plate.SetAsBox(0.2f, 0.02f);
    lift->CreateFixture(&plate, 0.0f);
    b2PolygonShape strip;
    strip.SetAsBox(1.0f, 0.1f, b2Vec2(0.0f, 0.1f), 0.0f);
    ParticleGroupDef def;
    def.shape = &strip;
    def.flags = wallParticle | viscousParticle | powderParticle;
    physics.CreateParticleGroup(def);
    def.flags = viscousParticle;
    strip.SetAsBox(1.0f, 0.1f, b2Vec2(0.0f, 0.35f), 0.0f);
    physics.CreateParticleGroup(def);
    for (int i = 0; i < 60; ++i) {
        physics.Step(dt, 6, 4);
    }
    ASSERT_GT(physics.GetParticleBodyContactCount(), 0);
    bool sawZeroMass = false;
    for (std::int32_t i = 0; i < physics.GetParticleBodyContactCount(); ++i) {
        ParticleBodyContact const& c = physics.GetParticleBodyContacts()[i];
        EXPECT_TRUE(std::isfinite(c.mass));
        sawZeroMass = sawZeroMass || c.mass == 0.0f;
    }
    EXPECT_TRUE(sawZeroMass);
    for (std::int32_t i = 0; i < physics.GetParticleCount(); ++i) {
        EXPECT_TRUE(finite(physics.GetParticlePositionBuffer()[i])) << i;
        EXPECT_TRUE(finite(physics.particles().GetVelocityBuffer()[i])) << i;
    }
}

TEST(ParticleSolver, ATankSettlesBoundedAndFloatsABox) {
    Tank tank(2000, true);
    PhysicsWorld& physics = tank.physics;
    ASSERT_EQ(physics.GetParticleCount(), 2000);
    float const diameter = 0.1f;
    // Speed is capped before the move: no particle travels more than a diameter in a step, plus
    // the slop a fixture leaves it off its surface.
    float worstMove = 0.0f;
    std::vector<b2Vec2> before(physics.GetParticlePositionBuffer(), physics.GetParticlePositionBuffer() + 2000);
    for (int frame = 0; frame < 300; ++frame) {
        physics.Step(dt, 6, 4);
        ASSERT_EQ(physics.GetParticleCount(), 2000);
        for (std::int32_t i = 0; i < 2000; ++i) {
            b2Vec2 const p = physics.GetParticlePositionBuffer()[i];
            b2Vec2 const v = physics.particles().GetVelocityBuffer()[i];
            ASSERT_TRUE(finite(p) && finite(v)) << "frame " << frame << " particle " << i;
            worstMove = std::max(worstMove, b2Distance(p, before[std::size_t(i)]));
            before[std::size_t(i)] = p;
            ASSERT_TRUE(p.x > -2.0f && p.x < 2.0f && p.y > 0.0f && p.y < 9.0f)
                << "frame " << frame << " particle " << i << " at " << p.x << ", " << p.y;
        }
        ASSERT_TRUE(finite(tank.floater->GetPosition()));
    }
    EXPECT_LE(worstMove, diameter + 0.005f);
    // The liquid stands about 2.8 m high; the box rides on it instead of sinking to the floor.
    float top = 0.0f;
    for (std::int32_t i = 0; i < 2000; ++i) {
        top = std::max(top, physics.GetParticlePositionBuffer()[i].y);
    }
    EXPECT_GT(tank.floater->GetPosition().y, top - 0.5f);
    EXPECT_GT(tank.floater->GetPosition().y, 0.75f * top) << "top " << top;
}

TEST(ParticleSolver, TheTankRunsBitIdenticallyTwice) {
    auto run = [] {
        Tank tank(800, true, 50);
        for (int frame = 0; frame < 90; ++frame) {
            tank.physics.Step(dt, 6, 4);
        }
        std::vector<b2Vec2> out(tank.physics.GetParticlePositionBuffer(),
                                tank.physics.GetParticlePositionBuffer() + tank.physics.GetParticleCount());
        out.push_back(tank.floater->GetPosition());
        return out;
    };
    std::vector<b2Vec2> const a = run();
    std::vector<b2Vec2> const b = run();
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(b2Vec2)), 0);
}

TEST(ParticleSolver, BadSettingsKeepTheDefaults) {
    PhysicsWorld physics(b2Vec2(0.0f, -10.0f));
    physics.SetParticleRadius(0.05f);
    physics.SetParticleDensity(2.0f);
    for (float bad : {0.0f, -1.0f, std::nanf(""), INFINITY}) {
        physics.SetParticleRadius(bad);
        physics.SetParticleDensity(bad);
    }
    EXPECT_FLOAT_EQ(physics.GetParticleRadius(), 0.05f);
    EXPECT_FLOAT_EQ(physics.GetParticleDensity(), 2.0f);
}
