#include <box2d/box2d.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "level/Fixtures.h"
#include "level/LevelObjects.h"
#include "level/tests/PackedShapeBuilder.h"

namespace {

struct Bodies {
    b2World world{b2Vec2(0.0f, -10.0f)};
    b2Body* body(b2BodyType type = b2_staticBody) {
        b2BodyDef def;
        def.type = type;
        return world.CreateBody(&def);
    }
};

std::vector<b2Fixture*> fixturesOf(b2Body* body) {
    std::vector<b2Fixture*> list;
    for (b2Fixture* f = body->GetFixtureList(); f != nullptr; f = f->GetNext()) {
        list.insert(list.begin(), f);  // Box2D prepends: restore creation order
    }
    return list;
}

void* userData(b2Fixture* f) { return reinterpret_cast<void*>(f->GetUserData().pointer); }

}  // namespace

TEST(Fixtures, EmptyListAndUnknownTypes) {
    Bodies b;
    b2Body* body = b.body();
    createFixtures({}, body, nullptr);
    EXPECT_EQ(body->GetFixtureList(), nullptr);

    PackedShapeBuilder p;
    PackedShape const first = p.circle({1, 0});
    PackedShape unknown = p.circle({0, 0});
    unknown[0] = 7;
    PackedShape const second = p.circle({2, 0});
    createFixtures({first, unknown, second}, body, nullptr);
    auto const list = fixturesOf(body);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(static_cast<b2CircleShape*>(list[0]->GetShape())->m_p.x, 1.0f);
    EXPECT_EQ(static_cast<b2CircleShape*>(list[1]->GetShape())->m_p.x, 2.0f);
}

TEST(Fixtures, CircleCarriesEveryFixtureSetting) {
    Bodies b;
    b2Body* body = b.body(b2_dynamicBody);
    PackedShapeBuilder p;
    p.radius = 0.5f;
    p.density = 3.0f;
    p.friction = 0.25f;
    p.restitution = 0.75f;
    p.category = 0x0080;
    p.mask = 0x0003;
    p.group = -2;
    p.sensor = 1;
    createFixtures({p.circle({1, 2})}, body, nullptr);
    auto const list = fixturesOf(body);
    ASSERT_EQ(list.size(), 1u);
    b2Fixture* f = list[0];
    ASSERT_EQ(f->GetType(), b2Shape::e_circle);
    auto* circle = static_cast<b2CircleShape*>(f->GetShape());
    EXPECT_EQ(circle->m_radius, 0.5f);
    EXPECT_EQ(circle->m_p, b2Vec2(1, 2));
    EXPECT_EQ(f->GetDensity(), 3.0f);
    EXPECT_EQ(f->GetFriction(), 0.25f);
    EXPECT_EQ(f->GetRestitution(), 0.75f);
    EXPECT_EQ(f->GetFilterData().categoryBits, 0x0080);
    EXPECT_EQ(f->GetFilterData().maskBits, 0x0003);
    EXPECT_EQ(f->GetFilterData().groupIndex, -2);
    EXPECT_TRUE(f->IsSensor());
    EXPECT_NEAR(body->GetMass(), 3.0f * b2_pi * 0.25f, 1e-5f);
}

TEST(Fixtures, EdgesAndChainsKeepTheirGhostVertices) {
    Bodies b;
    b2Body* body = b.body();
    PackedShapeBuilder p;
    p.radius = 0.02f;
    createFixtures({p.edge({0, 0}, {1, 0}, {-1, 0.5f}, {2, 0.5f}, true, true),
                    p.edge({0, 1}, {1, 1}, {-1, 1}, {2, 1}, true, false),
                    p.chain({{3, 0}, {2, 0}, {1, 1}}, {4, 0}, {0, 0}, true, true),
                    p.chain({{3, 0}, {2, 0}}, {}, {}, false, false)},
                   body, nullptr);
    auto const list = fixturesOf(body);
    ASSERT_EQ(list.size(), 4u);

    auto* oneSided = static_cast<b2EdgeShape*>(list[0]->GetShape());
    EXPECT_TRUE(oneSided->m_oneSided);
    EXPECT_EQ(oneSided->m_vertex0, b2Vec2(-1, 0.5f));
    EXPECT_EQ(oneSided->m_vertex1, b2Vec2(0, 0));
    EXPECT_EQ(oneSided->m_vertex2, b2Vec2(1, 0));
    EXPECT_EQ(oneSided->m_vertex3, b2Vec2(2, 0.5f));
    EXPECT_EQ(oneSided->m_radius, 0.02f);
    EXPECT_FALSE(static_cast<b2EdgeShape*>(list[1]->GetShape())->m_oneSided);

    auto* chain = static_cast<b2ChainShape*>(list[2]->GetShape());
    ASSERT_EQ(chain->m_count, 3);
    EXPECT_EQ(chain->m_vertices[2], b2Vec2(1, 1));
    EXPECT_EQ(chain->m_prevVertex, b2Vec2(4, 0));
    EXPECT_EQ(chain->m_nextVertex, b2Vec2(0, 0));
    EXPECT_EQ(chain->m_radius, 0.02f);
    // Missing ghost vertices continue the chain straight on.
    auto* bare = static_cast<b2ChainShape*>(list[3]->GetShape());
    EXPECT_EQ(bare->m_prevVertex, b2Vec2(4, 0));
    EXPECT_EQ(bare->m_nextVertex, b2Vec2(1, 0));
}

// What each kind of third argument may be: the signal list by address, a named owner, or nothing.
// A bare pointer, such as one into the list, must not compile as an owner.
template <class Arg>
concept FixtureUserDataArgument = requires(const std::vector<PackedShape>& shapes, b2Body* body, Arg arg) {
    createFixtures(shapes, body, arg);
};
static_assert(FixtureUserDataArgument<std::vector<FixtureSignal>*>);
static_assert(FixtureUserDataArgument<FixtureOwner>);
static_assert(FixtureUserDataArgument<std::nullptr_t>);
static_assert(!FixtureUserDataArgument<FixtureSignal*>);
static_assert(!FixtureUserDataArgument<int*>);
static_assert(!FixtureUserDataArgument<void*>);

TEST(Fixtures, UserDataFromTheSignalListOrTheOwner) {
    Bodies b;
    PackedShapeBuilder p;
    PackedShape const plain = p.circle({0, 0});
    p.userData = 3;
    PackedShape const indexed = p.circle({0, 0});
    p.userData = 4;
    PackedShape const outside = p.circle({0, 0});

    std::vector<FixtureSignal> signals(4);
    b2Body* level = b.body();
    createFixtures({plain, indexed, outside}, level, &signals);
    auto list = fixturesOf(level);
    ASSERT_EQ(list.size(), 2u);  // index 4 lies outside a list of four
    EXPECT_EQ(userData(list[0]), nullptr);
    EXPECT_EQ(userData(list[1]), &signals[3]);

    int owner = 0;
    b2Body* zone = b.body();
    createFixtures({plain, indexed}, zone, FixtureOwner(&owner));  // an owner has no list to index
    list = fixturesOf(zone);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(userData(list[0]), &owner);

    b2Body* bare = b.body();
    createFixtures({plain, indexed}, bare, nullptr);
    list = fixturesOf(bare);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(userData(list[0]), nullptr);
}

TEST(Fixtures, PolygonKeptExactlyAsStored) {
    PackedShapeBuilder p;
    p.radius = 0.03f;
    // Normals deliberately not unit length, and a centroid off the middle: nothing is recomputed.
    std::vector<b2Vec2> const vertices{{-1, -0.5f}, {1.5f, -0.5f}, {1, 0.5f}, {-1, 0.5f}};
    std::vector<b2Vec2> const normals{{0, -1.01f}, {0.9f, 0.4f}, {0, 1}, {-1, 0}};
    std::vector<PackedShape> const shapes{p.circle({0, 0}), p.polygon({0.25f, 0.125f}, vertices, normals)};
    b2PolygonShape const poly = createPolygonShape(shapes, 1);
    ASSERT_EQ(poly.m_count, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(poly.m_vertices[i], vertices[i]);
        EXPECT_EQ(poly.m_normals[i], normals[i]);
    }
    EXPECT_EQ(poly.m_centroid, b2Vec2(0.25f, 0.125f));
    EXPECT_EQ(poly.m_radius, 0.03f);

    // Not a polygon there, or no record: an empty polygon.
    EXPECT_EQ(createPolygonShape(shapes, 0).m_count, 0);
    EXPECT_EQ(createPolygonShape(shapes, 5).m_count, 0);
}

TEST(Fixtures, DamagedRecordsAreSkippedAndTheRestBuilt) {
    PackedShapeBuilder p;
    float const nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<PackedShape> bad;
    bad.push_back(PackedShape{0, 0});                                        // no header
    {
        PackedShape cut = p.circle({0, 0});
        cut.resize(35);  // centre cut off
        bad.push_back(cut);
    }
    bad.push_back(p.polygon({0, 0}, {{0, 0}, {1, 0}}, {{0, -1}, {1, 0}}));   // 2 vertices
    {
        std::vector<b2Vec2> nine;
        for (int i = 0; i < 9; ++i) {
            nine.push_back({std::cos(i * 0.7f), std::sin(i * 0.7f)});
        }
        bad.push_back(p.polygon({0, 0}, nine, nine));  // 9 vertices
    }
    bad.push_back(p.polygon({0, 0}, {{0, 0}, {1, 0}, {2, 0}}, {{0, 1}, {0, 1}, {0, 1}}));  // flat
    bad.push_back(p.polygon({0, 0}, {{0, 0}, {0, 1}, {1, 0}}, {{0, 1}, {0, 1}, {0, 1}}));  // clockwise
    {
        PackedShape cut = p.box(1, 1);
        cut.resize(cut.size() - 4);  // counts exceed the bytes
        bad.push_back(cut);
        PackedShape huge = p.box(1, 1);
        std::int32_t const n = 0x7FFFFFFF;
        std::memcpy(huge.data() + 39, &n, 4);
        bad.push_back(huge);
    }
    bad.push_back(p.chain({{0, 0}}, {}, {}, false, false));                     // 1 vertex
    bad.push_back(p.chain({{0, 0}, {0, 0}, {1, 0}}, {}, {}, false, false));     // repeated vertex
    {
        PackedShape negative = p.chain({{0, 0}, {1, 0}}, {}, {}, false, false);
        std::int32_t const n = -5;
        std::memcpy(negative.data() + 31, &n, 4);
        bad.push_back(negative);
        PackedShape cut = p.chain({{0, 0}, {1, 0}, {2, 0}}, {}, {}, true, true);
        cut.pop_back();
        bad.push_back(cut);
    }
    bad.push_back(p.edge({0, 0}, {0, 0}, {}, {}, false, false));                // zero length
    bad.push_back(p.edge({0, 0}, {nan, 0}, {}, {}, false, false));              // not a number
    p.radius = -1.0f;
    bad.push_back(p.circle({0, 0}));
    p.radius = 0.1f;
    p.density = nan;
    bad.push_back(p.box(1, 1));
    p.density = 1.0f;
    p.friction = -1.0f;
    bad.push_back(p.box(1, 1));
    p.friction = 0.5f;

    Bodies b;
    b2Body* body = b.body(b2_dynamicBody);
    std::vector<PackedShape> shapes;
    for (const PackedShape& s : bad) {
        shapes.push_back(s);
        shapes.push_back(p.box(0.5f, 0.5f));
    }
    createFixtures(shapes, body, nullptr);
    EXPECT_EQ(fixturesOf(body).size(), bad.size());
    EXPECT_NEAR(body->GetMass(), float(bad.size()), 1e-3f);

    for (std::size_t i = 0; i < bad.size(); ++i) {
        b2PolygonShape poly;
        FixtureSettings settings;
        EXPECT_FALSE(decodePackedShape(bad, i, poly, settings)) << i;
    }
}

TEST(Fixtures, OnlyEdgesWithBothGhostVerticesAreOneSided) {
    PackedShapeBuilder p;
    auto const wall = oneSidedSegments(p.edge({0, 0}, {0, 10}, {0, -1}, {0, 11}, true, true));
    ASSERT_EQ(wall.size(), 1u);
    EXPECT_TRUE(wall[0].faces({1, 5}));
    EXPECT_FALSE(wall[0].faces({-1, 5}));
    EXPECT_TRUE(oneSidedSegments(p.edge({0, 0}, {1, 0}, {}, {}, false, false)).empty());
    EXPECT_TRUE(oneSidedSegments(p.chain({{10, 0}, {0, 0}, {-10, 0}}, {}, {}, false, false)).empty());
}

namespace {

struct ChainScene : Bodies {
    b2Body* ground = nullptr;
    std::vector<FixtureSignal> signals = std::vector<FixtureSignal>(2);

    explicit ChainScene(const std::vector<b2Vec2>& vertices, b2Vec2 gravity = {0.0f, -10.0f}) {
        world.SetGravity(gravity);
        PackedShapeBuilder p;
        p.userData = 1;
        ground = body();
        createFixtures({p.chain(vertices, {}, {}, false, false)}, ground, &signals);
    }
    b2Body* drop(const PackedShape& shape, b2Vec2 at) {
        b2Body* b = body(b2_dynamicBody);
        b->SetTransform(at, 0.0f);
        createFixtures({shape}, b, nullptr);
        return b;
    }
    void run(float seconds) {
        for (int i = 0; i < int(seconds * 60.0f); ++i) {
            world.Step(1.0f / 60.0f, 8, 3);
        }
    }
};

std::vector<b2Vec2> flat(int segments, bool leftToRight) {
    std::vector<b2Vec2> v;
    for (int i = 0; i <= segments; ++i) {
        v.push_back({float(leftToRight ? i : segments - i), 0.0f});
    }
    return v;
}

PackedShape ballShape(float radius) {
    PackedShapeBuilder p;
    p.radius = radius;
    return p.circle({0, 0});
}

}  // namespace

TEST(Fixtures, ChainsStopBodiesFromEitherSideAndStayOneFixture) {
    PackedShapeBuilder p;
    PackedShape const box = p.box(0.4f, 0.4f);
    for (bool leftToRight : {true, false}) {
        SCOPED_TRACE(leftToRight ? "wound left to right" : "wound right to left");
        std::vector<b2Vec2> const valley = leftToRight ? std::vector<b2Vec2>{{-10, 1}, {0, 0}, {10, 1}}
                                                       : std::vector<b2Vec2>{{10, 1}, {0, 0}, {-10, 1}};
        {
            ChainScene scene(valley);
            ASSERT_EQ(fixturesOf(scene.ground).size(), 1u);
            b2Body* ball = scene.drop(ballShape(0.5f), {0, 3});
            b2Body* crate = scene.drop(box, {5, 3});
            scene.run(3.0f);
            // At rest on the chain: radius (or half height) plus both skins of 0.1 above it.
            EXPECT_NEAR(ball->GetPosition().y, 0.6f, 0.02f);
            b2Vec2 const c = crate->GetPosition();
            EXPECT_NEAR(c.y - 0.1f * std::fabs(c.x), 0.6f * std::sqrt(1.01f), 0.02f);
            EXPECT_LT(crate->GetLinearVelocity().Length(), 0.01f);

            // Contacts name the one stored shape, with its signal entry.
            int touching = 0;
            for (b2Contact* c = scene.world.GetContactList(); c != nullptr; c = c->GetNext()) {
                if (!c->IsTouching()) continue;
                ++touching;
                b2Fixture* chain = c->GetFixtureA()->GetBody() == scene.ground ? c->GetFixtureA() : c->GetFixtureB();
                EXPECT_EQ(userData(chain), &scene.signals[1]);
            }
            EXPECT_GE(touching, 2);
        }
        {
            // Pulled upwards, a ball stops under the chain.
            ChainScene scene(valley, {0.0f, 10.0f});
            b2Body* ball = scene.drop(ballShape(0.5f), {0, -3});
            scene.run(3.0f);
            EXPECT_NEAR(ball->GetPosition().y, -0.6f, 0.02f);
        }
        {
            // Rays hit it from above and below, each with the normal facing the ray.
            ChainScene scene(valley);
            struct Nearest : b2RayCastCallback {
                b2Fixture* fixture = nullptr;
                b2Vec2 normal{0, 0};
                float ReportFixture(b2Fixture* f, const b2Vec2&, const b2Vec2& n, float fraction) override {
                    fixture = f;
                    normal = n;
                    return fraction;
                }
            };
            for (float from : {5.0f, -5.0f}) {
                Nearest hit;
                scene.world.RayCast(&hit, {2, from}, {2, -from});
                ASSERT_NE(hit.fixture, nullptr) << from;
                EXPECT_EQ(hit.fixture->GetBody(), scene.ground);
                EXPECT_GT(hit.normal.y * from, 0.0f) << from;
            }
        }
    }
}

TEST(Fixtures, BallRollsAlongAFlatChainWithoutSnagging) {
    for (bool leftToRight : {true, false}) {
        SCOPED_TRACE(leftToRight ? "wound left to right" : "wound right to left");
        ChainScene scene(flat(20, leftToRight));
        float const radius = 0.25f;
        b2Body* ball = scene.drop(ballShape(radius), {0.5f, radius + 0.01f});
        float const speed = 4.0f;
        ball->SetLinearVelocity({speed, 0.0f});
        ball->SetAngularVelocity(-speed / (radius + 0.01f));
        float lowest = speed;
        float highest = 0.0f;
        for (int i = 0; i < 240 && ball->GetPosition().x < 19.0f; ++i) {
            scene.world.Step(1.0f / 60.0f, 8, 3);
            if (ball->GetPosition().x > 1.0f) {
                lowest = std::min(lowest, ball->GetLinearVelocity().x);
                highest = std::max(highest, std::fabs(ball->GetLinearVelocity().y));
            }
        }
        EXPECT_GT(ball->GetPosition().x, 15.0f);
        EXPECT_GT(lowest, 0.97f * speed);
        EXPECT_LT(highest, 0.05f);
    }
}
