// The particle step in a tank with five floating boxes, against the same step with its particle
// contacts found by testing all pairs; the passes one by one; the cost of a 1,000-child chain
// through the liquid; group creation with triads and depth against a plain group; and the
// allocations of a warmed-up step.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include <box2d/box2d.h>

#include "physics/particles/PhysicsWorld.h"
#include "testing/AllocationCounter.h"

namespace {

constexpr float dt = 1.0f / 60.0f;

b2TimeStep timeStep() {
    b2TimeStep step{};
    step.dt = dt;
    step.inv_dt = 1.0f / dt;
    step.dtRatio = 1.0f;
    step.velocityIterations = 6;
    step.positionIterations = 4;
    return step;
}

void staticBox(PhysicsWorld& physics, b2Vec2 center, float hx, float hy) {
    b2BodyDef def;
    def.position = center;
    b2PolygonShape shape;
    shape.SetAsBox(hx, hy);
    physics.CreateBody(def)->CreateFixture(&shape, 0.0f);
}

// `count` particles of radius 0.05 settled for a second in a tank as wide as keeps the liquid
// about 2.5 m deep, five light boxes on top; optionally a static chain of `chainChildren`
// segments waving through the liquid's rows.
std::unique_ptr<PhysicsWorld> tank(int count, int chainChildren = 0) {
    auto physics = std::make_unique<PhysicsWorld>(b2Vec2(0.0f, -10.0f));
    physics->SetParticleRadius(0.05f);
    physics->SetParticleMaxCount(std::uint32_t(count));
    float const half = 0.5f * float(count) * 0.075f * 0.075f / 2.5f;
    staticBox(*physics, b2Vec2(0.0f, -0.5f), half + 1.0f, 0.5f);
    staticBox(*physics, b2Vec2(-half - 0.5f, 5.0f), 0.5f, 6.0f);
    staticBox(*physics, b2Vec2(half + 0.5f, 5.0f), 0.5f, 6.0f);
    if (chainChildren > 0) {
        std::vector<b2Vec2> points;
        // A gentle wave 10 m long, through the liquid and out through both walls.
        for (int i = 0; i <= chainChildren; ++i) {
            float const t = float(i) / float(chainChildren);
            points.emplace_back(-5.0f + 10.0f * t, 1.2f + 0.3f * std::sin(12.0f * t));
        }
        b2ChainShape chain;
        chain.CreateChain(points.data(), std::int32_t(points.size()), points.front(), points.back());
        physics->CreateBody(b2BodyDef())->CreateFixture(&chain, 0.0f);
    }
    b2PolygonShape block;
    block.SetAsBox(half - 0.05f, 1.6f, b2Vec2(0.0f, 1.65f), 0.0f);
    ParticleGroupDef def;
    def.shape = &block;
    physics->CreateParticleGroup(def);
    for (int i = 0; i < 5; ++i) {
        b2BodyDef body;
        body.type = b2_dynamicBody;
        body.position.Set(-half + (float(i) + 0.5f) * 2.0f * half / 5.0f, 3.5f);
        b2PolygonShape box;
        box.SetAsBox(0.2f, 0.2f);
        physics->CreateBody(body)->CreateFixture(&box, 0.4f);
    }
    for (int i = 0; i < 60; ++i) {
        physics->Step(dt, 6, 4);
    }
    return physics;
}

void solve(benchmark::State& state, bool allPairs, int chainChildren) {
    auto physics = tank(int(state.range(0)), chainChildren);
    ParticleSystem& particles = physics->particles();
    particles.SetBruteForceContacts(allPairs);
    b2TimeStep const step = timeStep();
    for (int i = 0; i < 3; ++i) {
        particles.Solve(step);
    }
    std::size_t const before = testing_support::allocationCount();
    std::size_t steps = 0;
    for (auto _ : state) {
        particles.Solve(step);
        ++steps;
    }
    state.counters["allocs_per_step"] = double(testing_support::allocationCount() - before) / double(steps);
    state.counters["contacts_per_particle"] =
        double(particles.GetContactCount()) / double(particles.GetParticleCount());
    state.counters["body_contacts"] = particles.GetBodyContactCount();
    state.counters["particles"] = particles.GetParticleCount();
}

void BM_Solve(benchmark::State& state) { solve(state, false, 0); }
void BM_SolveAllPairsBaseline(benchmark::State& state) { solve(state, true, 0); }
void BM_SolveWithChain(benchmark::State& state) { solve(state, false, 1000); }
BENCHMARK(BM_Solve)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SolveAllPairsBaseline)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SolveWithChain)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);

// One pass of a warmed-up 10,000-particle tank; the pass runs on the state the step left.
enum Pass { Contacts, Collision, BodyContacts, Pressure, Damping };
void BM_Pass(benchmark::State& state) {
    auto physics = tank(10000);
    ParticleSystem& particles = physics->particles();
    b2TimeStep const step = timeStep();
    particles.Solve(step);
    for (auto _ : state) {
        switch (Pass(state.range(0))) {
        case Contacts:
            particles.UpdateContacts(false);
            break;
        case Collision:
            particles.SolveCollision(step);
            break;
        case BodyContacts:
            particles.UpdateBodyContacts();
            break;
        case Pressure:
            particles.SolvePressure(step);
            break;
        case Damping:
            particles.SolveDamping();
            break;
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Pass)
    ->ArgName("pass")
    ->Arg(Contacts)
    ->Arg(Collision)
    ->Arg(BodyContacts)
    ->Arg(Pressure)
    ->Arg(Damping)
    ->Unit(benchmark::kMicrosecond);

// Group creation: a square of about `n` lattice points, plain, elastic (triads) or solid (depth).
void createGroup(benchmark::State& state, std::uint32_t flags, std::uint32_t groupFlags) {
    float const side = std::sqrt(float(state.range(0))) * 0.075f;
    b2PolygonShape square;
    square.SetAsBox(0.5f * side, 0.5f * side);
    ParticleGroupDef def;
    def.shape = &square;
    def.flags = flags;
    def.groupFlags = groupFlags;
    std::int32_t made = 0;
    for (auto _ : state) {
        ParticleSystem particles(nullptr, nullptr);
        particles.SetRadius(0.05f);
        benchmark::DoNotOptimize(particles.CreateParticleGroup(def));
        made = particles.GetParticleCount();
    }
    state.counters["particles"] = made;
}
void BM_CreateGroupPlain(benchmark::State& state) { createGroup(state, 0, 0); }
void BM_CreateGroupElastic(benchmark::State& state) { createGroup(state, elasticParticle, 0); }
void BM_CreateGroupSolid(benchmark::State& state) { createGroup(state, 0, solidParticleGroup); }
BENCHMARK(BM_CreateGroupPlain)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CreateGroupElastic)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CreateGroupSolid)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
