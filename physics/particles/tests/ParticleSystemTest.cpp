#include <box2d/box2d.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "physics/particles/PhysicsWorld.h"

namespace {

ParticleDef at(float x, float y, std::uint32_t flags = 0, b2Vec2 v = b2Vec2(0.0f, 0.0f)) {
    ParticleDef def;
    def.position.Set(x, y);
    def.velocity = v;
    def.flags = flags;
    return def;
}

b2Body* staticBox(PhysicsWorld& physics, b2Vec2 center, float hx, float hy, std::uint16_t mask = 0xFFFF) {
    b2BodyDef def;
    def.position = center;
    b2Body* body = physics.CreateBody(def);
    b2PolygonShape box;
    box.SetAsBox(hx, hy);
    b2FixtureDef fixture;
    fixture.shape = &box;
    fixture.filter.maskBits = mask;
    body->CreateFixture(&fixture);
    return body;
}

// Particle positions as exact bit patterns, so a remapped index can be checked by where it points.
using Where = std::pair<float, float>;
Where where(ParticleSystem const& s, std::int32_t i) { return {s.GetPositionBuffer()[i].x, s.GetPositionBuffer()[i].y}; }

}  // namespace

TEST(ParticleSystem, BuffersGrowFromTheirFirstBlockAndOptionalOnesAppearOnFirstUse) {
    ParticleSystem s(nullptr, nullptr);
    s.SetRadius(0.1f);
    EXPECT_FLOAT_EQ(s.GetParticleStride(), 0.15f);
    EXPECT_FLOAT_EQ(s.GetParticleMass(), 0.0225f);
    s.SetMaxCount(300);
    b2PolygonShape box;
    box.SetAsBox(1.5f, 1.5f);  // 20 x 20 lattice points
    ParticleGroupDef def;
    def.shape = &box;
    ParticleGroup* g = s.CreateParticleGroup(def);
    EXPECT_EQ(g->GetBufferIndex(), 0);
    EXPECT_EQ(g->GetParticleCount(), 300);
    EXPECT_EQ(s.GetCapacity(), 300);
    EXPECT_EQ(s.CreateParticle(at(0, 0)), -1);
    // No colour or user data asked for: none kept.
    EXPECT_EQ(s.GetColorBuffer(), nullptr);
    EXPECT_EQ(s.GetUserDataBuffer(), nullptr);

    ParticleSystem t(nullptr, nullptr);
    t.CreateParticle(at(0, 0));
    ParticleDef red = at(1, 0);
    red.color = ParticleColor{255, 0, 0, 255};
    t.CreateParticle(red);
    ASSERT_NE(t.GetColorBuffer(), nullptr);
    EXPECT_TRUE(t.GetColorBuffer()[0].IsZero());
    EXPECT_EQ(t.GetColorBuffer()[1], red.color);
}

TEST(ParticleSystem, ContactsComeFromTheTagScanAndMatchAnAllPairsSearch) {
    ParticleSystem s(nullptr, nullptr);  // diameter 1
    s.CreateParticle(at(0.0f, 0.0f));
    s.CreateParticle(at(0.9f, 0.0f));  // weight 0.1
    s.CreateParticle(at(5.0f, 0.0f));
    s.CreateParticle(at(6.0f, 0.0f));  // exactly one diameter: none
    s.CreateParticle(at(10.0f, 3.0f));
    s.CreateParticle(at(10.0f, 3.0f));  // same place: weight 1, no direction
    s.UpdateContacts(false);
    ASSERT_EQ(s.GetContactCount(), 2);
    ParticleContact const& c = s.GetContacts()[0];
    EXPECT_EQ(std::make_pair(c.indexA, c.indexB), std::make_pair(0, 1));
    EXPECT_NEAR(c.weight, 0.1f, 1e-3f);
    EXPECT_NEAR(c.normal.x, 1.0f, 1e-3f);
    EXPECT_EQ(s.GetContacts()[1].weight, 1.0f);
    EXPECT_EQ(s.GetContacts()[1].normal, b2Vec2(0.0f, 0.0f));

    // Same row by truncation: the left one sorts first, 128 column units before.
    ParticleSystem r(nullptr, nullptr);
    r.CreateParticle(at(0.0f, 0.0f));
    r.CreateParticle(at(-0.5f, 0.5f));
    r.UpdateContacts(false);
    EXPECT_EQ(r.ComputeTag(0.0f, 0.0f) >> 20, r.ComputeTag(-0.5f, 0.5f) >> 20);
    EXPECT_EQ(r.ComputeTag(0.0f, 0.0f) - r.ComputeTag(-0.5f, 0.5f), 128u);
    EXPECT_EQ(r.GetProxies()[0].index, 1);
    EXPECT_EQ(r.GetContactCount(), 1);

    // A random cloud: the scan finds exactly the pairs closer than a diameter.
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> coord(-8.0f, 8.0f);
    ParticleSystem cloud(nullptr, nullptr);
    cloud.SetRadius(0.25f);
    for (int i = 0; i < 1500; ++i) {
        cloud.CreateParticle(at(coord(rng), coord(rng)));
    }
    auto pairs = [&] {
        std::set<std::pair<int, int>> out;
        for (std::int32_t i = 0; i < cloud.GetContactCount(); ++i) {
            ParticleContact const& k = cloud.GetContacts()[i];
            EXPECT_TRUE(out.emplace(std::min(k.indexA, k.indexB), std::max(k.indexA, k.indexB)).second) << "twice";
        }
        return out;
    };
    cloud.UpdateContacts(false);
    auto const scanned = pairs();
    cloud.UpdateContactsBruteForce();
    EXPECT_EQ(scanned, pairs());
    EXPECT_GT(scanned.size(), 100u);
}

TEST(ParticleSystem, TagsSaturateAndWrapWithoutFalseOrDoubledContacts) {
    ParticleSystem s(nullptr, nullptr);  // diameter 1
    EXPECT_EQ(s.ComputeTag(-1e6f, 0.0f) & 0xFFFFFu, 0u);
    EXPECT_EQ(s.ComputeTag(0.0f, -1e6f) >> 20, 0u);
    EXPECT_EQ(s.ComputeTag(std::nanf(""), std::nanf("")), 0u);
    EXPECT_EQ(s.ComputeTag(1e30f, 1e30f), 0xFFFFFFFFu + (0xFFFFFFFFu << 20));
    EXPECT_EQ(s.ComputeTag(0.0f, 2047.5f) >> 20, 4095u);
    EXPECT_EQ(s.ComputeTag(0.0f, 2048.5f) >> 20, 0u) << "row 4096 wraps to the bottom";

    // Far out every tag saturates to one value: candidates abound, only true neighbours touch.
    for (float y : {-5000.0f, 2047.6f, 5000.0f}) {
        ParticleSystem far(nullptr, nullptr);
        for (int i = 0; i < 40; ++i) {
            far.CreateParticle(at(6000.0f + 3.0f * float(i), y));
        }
        far.CreateParticle(at(6000.5f, y));
        far.CreateParticle(at(6000.0f, y + 0.5f));
        far.UpdateContacts(false);
        for (std::int32_t i = 0; i < far.GetContactCount(); ++i) {
            ParticleContact const& c = far.GetContacts()[i];
            EXPECT_NE(c.indexA, c.indexB);
            EXPECT_LT(b2Distance(far.GetPositionBuffer()[c.indexA], far.GetPositionBuffer()[c.indexB]), 1.0f);
        }
        EXPECT_LE(far.GetContactCount(), 3) << "y " << y;
    }
}

TEST(ParticleSystem, BoxQueriesReportExactlyTheParticlesStrictlyInside) {
    ParticleSystem s(nullptr, nullptr);
    s.SetRadius(0.1f);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> coord(-5.0f, 5.0f);
    for (int i = 0; i < 800; ++i) {
        s.CreateParticle(at(coord(rng), coord(rng)));
    }
    s.CreateParticle(at(1.0f, 0.5f));  // on the box's left edge
    s.UpdateContacts(false);
    struct Collect : ParticleQueryCallback {
        std::set<std::int32_t> seen;
        bool ReportFixture(b2Fixture*) override { return true; }
        bool ReportParticle(std::int32_t i) override { return seen.insert(i).second; }
    };
    for (auto [lx, ly, ux, uy] : {std::tuple{1.0f, -2.0f, 3.5f, 2.0f}, std::tuple{-5.0f, -5.0f, 5.0f, 5.0f},
                                  std::tuple{-0.3f, 4.9f, 0.3f, 6.0f}}) {
        b2AABB box;
        box.lowerBound.Set(lx, ly);
        box.upperBound.Set(ux, uy);
        Collect got;
        s.QueryAABB(&got, box);
        std::set<std::int32_t> want;
        for (std::int32_t i = 0; i < s.GetParticleCount(); ++i) {
            b2Vec2 const p = s.GetPositionBuffer()[i];
            if (lx < p.x && p.x < ux && ly < p.y && p.y < uy) {
                want.insert(i);
            }
        }
        EXPECT_EQ(got.seen, want);
    }
}

TEST(ParticleSystem, ZombieRemovalRemapsEveryIndexAndGroupRange) {
    // The simple case: removing 3 and 5 of 8 moves 4, 6, 7 to 3, 4, 5 and [2, 6) to [2, 4).
    {
        ParticleSystem s(nullptr, nullptr);
        for (int i = 0; i < 8; ++i) {
            s.CreateParticle(at(10.0f * float(i), 0.0f, i == 3 || i == 5 ? zombieParticle : 0));
        }
        ParticleGroupDef none;
        s.CreateParticleGroup(none);
        s.SolveZombie();
        EXPECT_EQ(s.GetParticleCount(), 6);
        EXPECT_EQ(s.GetPositionBuffer()[3].x, 40.0f);
        EXPECT_EQ(s.GetPositionBuffer()[5].x, 70.0f);
        EXPECT_EQ(s.GetGroupCount(), 0) << "an empty group that destroys automatically goes";
    }

    PhysicsWorld physics(b2Vec2(0.0f, 0.0f));
    physics.SetParticleRadius(0.1f);
    staticBox(physics, b2Vec2(0.0f, -0.5f), 3.0f, 0.45f);
    b2PolygonShape block;
    block.SetAsBox(0.5f, 0.5f, b2Vec2(0.0f, 0.5f), 0.0f);
    ParticleGroupDef def;
    def.shape = &block;
    def.flags = springParticle | elasticParticle;
    def.groupFlags = solidParticleGroup;
    ParticleGroup* a = physics.CreateParticleGroup(def);
    def.position.Set(1.2f, 0.0f);
    def.destroyAutomatically = false;
    ParticleGroup* b = physics.CreateParticleGroup(def);
    def.position.Set(-1.2f, 0.0f);
    ParticleGroup* c = physics.CreateParticleGroup(def);
    physics.Step(1.0f / 60.0f, 6, 4);
    ParticleSystem& s = physics.particles();
    ASSERT_GT(s.GetBodyContactCount(), 0);
    ASSERT_GT(s.GetPairCount(), 0);
    ASSERT_GT(s.GetTriadCount(), 0);

    // Mark every third particle of a, and all of b.
    std::set<Where> removed;
    std::vector<std::int32_t> marks;
    for (std::int32_t i = a->GetBufferIndex(); i < a->GetBufferIndex() + a->GetParticleCount(); i += 3) {
        removed.insert(where(s, i));
        marks.push_back(i);
    }
    for (std::int32_t i = 0; i < s.GetParticleCount(); ++i) {
        if (s.GetGroupBuffer()[i] == b) {
            removed.insert(where(s, i));
        }
    }
    auto survives = [&](std::initializer_list<std::int32_t> ids) {
        return std::none_of(ids.begin(), ids.end(), [&](std::int32_t i) { return removed.count(where(s, i)) != 0; });
    };
    std::multiset<std::vector<Where>> contacts;
    std::multiset<std::vector<Where>> bodyContacts;
    std::multiset<std::vector<Where>> pairs;
    std::multiset<std::vector<Where>> triads;
    for (std::int32_t i = 0; i < s.GetContactCount(); ++i) {
        auto const& k = s.GetContacts()[i];
        if (survives({k.indexA, k.indexB})) {
            contacts.insert({where(s, k.indexA), where(s, k.indexB)});
        }
    }
    for (std::int32_t i = 0; i < s.GetBodyContactCount(); ++i) {
        auto const& k = s.GetBodyContacts()[i];
        if (survives({k.index})) {
            bodyContacts.insert({where(s, k.index)});
        }
    }
    for (std::int32_t i = 0; i < s.GetPairCount(); ++i) {
        auto const& k = s.GetPairs()[i];
        if (survives({k.indexA, k.indexB})) {
            pairs.insert({where(s, k.indexA), where(s, k.indexB)});
        }
    }
    for (std::int32_t i = 0; i < s.GetTriadCount(); ++i) {
        auto const& k = s.GetTriads()[i];
        if (survives({k.indexA, k.indexB, k.indexC})) {
            triads.insert({where(s, k.indexA), where(s, k.indexB), where(s, k.indexC)});
        }
    }
    std::int32_t const before = s.GetParticleCount();
    std::int32_t const cCount = c->GetParticleCount();
    physics.DestroyParticlesInGroup(b, false);
    for (std::int32_t i : marks) {
        s.GetFlagsBuffer()[i] |= zombieParticle;
    }
    s.SolveZombie();
    EXPECT_EQ(s.GetParticleCount(), before - std::int32_t(removed.size()));

    std::multiset<std::vector<Where>> after;
    for (std::int32_t i = 0; i < s.GetContactCount(); ++i) {
        after.insert({where(s, s.GetContacts()[i].indexA), where(s, s.GetContacts()[i].indexB)});
    }
    EXPECT_EQ(after, contacts);
    after.clear();
    for (std::int32_t i = 0; i < s.GetBodyContactCount(); ++i) {
        after.insert({where(s, s.GetBodyContacts()[i].index)});
    }
    EXPECT_EQ(after, bodyContacts);
    after.clear();
    for (std::int32_t i = 0; i < s.GetPairCount(); ++i) {
        after.insert({where(s, s.GetPairs()[i].indexA), where(s, s.GetPairs()[i].indexB)});
    }
    EXPECT_EQ(after, pairs);
    after.clear();
    for (std::int32_t i = 0; i < s.GetTriadCount(); ++i) {
        auto const& k = s.GetTriads()[i];
        after.insert({where(s, k.indexA), where(s, k.indexB), where(s, k.indexC)});
    }
    EXPECT_EQ(after, triads);
    std::set<std::int32_t> proxies;
    for (std::int32_t i = 0; i < s.GetProxyCount(); ++i) {
        proxies.insert(s.GetProxies()[i].index);
    }
    EXPECT_EQ(proxies.size(), std::size_t(s.GetParticleCount()));
    EXPECT_EQ(*proxies.rbegin(), s.GetParticleCount() - 1);

    // Ranges still hold exactly their own particles; b stays, empty, because it keeps itself.
    EXPECT_EQ(b->GetBufferIndex(), 0);
    EXPECT_EQ(b->GetParticleCount(), 0);
    EXPECT_EQ(c->GetParticleCount(), cCount);
    for (ParticleGroup* g : {a, c}) {
        for (std::int32_t i = 0; i < s.GetParticleCount(); ++i) {
            bool const inside = i >= g->GetBufferIndex() && i < g->GetBufferIndex() + g->GetParticleCount();
            EXPECT_EQ(s.GetGroupBuffer()[i] == g, inside) << i;
        }
    }
    EXPECT_EQ(s.GetGroupCount(), 3);
}

TEST(ParticleSystem, ElasticLatticesGetTriadsAndSolidOnesGetDepth) {
    // A 5 x 5 lattice: each particle touches its four neighbours at weight 0.25.
    ParticleSystem s(nullptr, nullptr);  // diameter 1, stride 0.75
    b2PolygonShape square;
    square.SetAsBox(1.8f, 1.8f);  // lattice points -1.5 .. 1.5
    ParticleGroupDef def;
    def.shape = &square;
    def.flags = elasticParticle;
    def.groupFlags = solidParticleGroup;
    def.strength = 0.5f;
    ParticleGroup* g = s.CreateParticleGroup(def);
    ASSERT_EQ(g->GetParticleCount(), 25);
    EXPECT_EQ(s.GetContactCount(), 40);
    ASSERT_EQ(s.GetTriadCount(), 32) << "two triangles per lattice square";
    std::set<std::set<std::int32_t>> distinct;
    for (std::int32_t i = 0; i < s.GetTriadCount(); ++i) {
        auto const& t = s.GetTriads()[i];
        EXPECT_EQ(t.strength, 0.5f);
        EXPECT_NEAR((t.pa + t.pb + t.pc).Length(), 0.0f, 1e-5f);
        distinct.insert({t.indexA, t.indexB, t.indexC});
    }
    EXPECT_EQ(distinct.size(), 32u);

    std::map<int, float> depthByRing;
    for (std::int32_t i = 0; i < 25; ++i) {
        b2Vec2 const p = s.GetPositionBuffer()[i];
        int const ring = int(std::lround(std::max(std::abs(p.x), std::abs(p.y)) / 0.75f));
        float const d = s.GetDepthBuffer()[i];
        auto const [it, fresh] = depthByRing.emplace(ring, d);
        EXPECT_NEAR(it->second, d, 1e-5f) << "ring " << ring;
    }
    EXPECT_FLOAT_EQ(depthByRing[2], 0.0f);
    EXPECT_NEAR(depthByRing[1], 0.75f, 0.005f);
    EXPECT_NEAR(depthByRing[0], 1.5f, 0.01f);

    // One row of cells meets no row above it: no triangles.
    ParticleSystem row(nullptr, nullptr);
    b2PolygonShape strip;
    strip.SetAsBox(1.8f, 0.1f);
    def.shape = &strip;
    row.CreateParticleGroup(def);
    EXPECT_EQ(row.GetParticleCount(), 5);
    EXPECT_EQ(row.GetTriadCount(), 0);
}
