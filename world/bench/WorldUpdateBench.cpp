// One world update on a heavy level (200 bodies, 50 joints, 30 body observers, 50 coins)
// against the physics step alone on the same level: the rest of the update should cost little
// beside the step. The level's bodies never sleep and motors keep its top rows turning, so both
// rows time a world in motion, not a resting one. The counters give the per-frame p50 and p99,
// the allocations per frame after warm-up and the bodies awake at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include <box2d/b2_body.h>
#include <box2d/b2_world.h>

#include "audio/Context.h"
#include "os/EventHandler.h"
#include "testing/AllocationCounter.h"
#include "tools/datatool/LevelBuilder.h"
#include "world/World.h"

namespace {

struct SilentMusic : WorldMusic {
    void setVolume(float) override {}
    void stop() override {}
    void play(Audio::Context&, std::string const&) override {}
};

PristineLevel::Data heavyLevel() {
    levels::LevelBuilder b;
    b.ground({{-100.0f, 0.0f}, {100.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
    b.checkPoint({-90.0f, 1.0f});
    for (int i = 0; i < 200; ++i) {
        float const x = -50.0f + float(i % 40) * 2.5f;
        float const y = 1.0f + float(i / 40) * 2.0f;
        uint32_t const body = b.boxBody({x, y}, {0.4f, 0.4f});
        b.data().dynamicBodies[body].bodyDef.allowSleep = false;
    }
    // 50 hinges, each pinning a body of the top rows where it stands and turning it, so the
    // boxes beside and below keep being pushed about.
    for (int i = 0; i < 50; ++i) {
        PristineLevel::RevoluteJoint hinge;
        hinge.def.bodyA = -1;
        hinge.def.bodyB = 150 + i;
        auto const& at = b.data().dynamicBodies[std::size_t(150 + i)].bodyDef.position;
        hinge.def.localAnchorA = at;
        hinge.def.enableMotor = true;
        hinge.def.motorSpeed = i % 2 ? 3.0f : -3.0f;
        hinge.def.maxMotorTorque = 200.0f;
        b.joint(hinge, b.signal());
    }
    for (int i = 0; i < 30; ++i) {
        b.bodyObserver(i);
    }
    for (int i = 0; i < 50; ++i) {
        b.coin({-50.0f + float(i) * 2.0f, 12.0f});
    }
    return b.data();
}

struct Run {
    EventHandler events;
    SilentMusic music;
    Audio::Context audio{Audio::Context::Parameters{0.001f, 0xD004u, 15.0f, 15.0f}};
    World world{nullptr, nullptr, &events, heavyLevel(), nullptr, GameMode::Normal, boost::none};

    Run() {
        world.setMusicService(&music);
        for (int i = 0; i < 120; ++i) {
            events.dispatch();
            world.update(nullptr, audio, nullptr, nullptr, 16.0f, float(i) * 16.0f);
        }
    }
};

int awakeBodies(PhysicsWorld& physics) {
    int awake = 0;
    for (b2Body* body = physics.box2d().GetBodyList(); body; body = body->GetNext())
        awake += body->GetType() == b2_dynamicBody && body->IsAwake();
    return awake;
}

template <class Frame>
void timeFrames(benchmark::State& state, Frame&& frame) {
    std::vector<double> micros;
    micros.reserve(1 << 16);
    std::size_t const before = testing_support::allocationCount();
    std::size_t frames = 0;
    for (auto _ : state) {
        auto const start = std::chrono::steady_clock::now();
        frame();
        auto const end = std::chrono::steady_clock::now();
        if (micros.size() < micros.capacity()) {
            micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
        ++frames;
    }
    std::size_t const allocated = testing_support::allocationCount() - before;
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    state.counters["allocs_per_frame"] = double(allocated) / double(std::max<std::size_t>(frames, 1));
}

void BM_WorldUpdate(benchmark::State& state) {
    Run run;
    float now = 0.0f;
    timeFrames(state, [&] {
        run.events.dispatch();
        now += 16.0f;
        run.world.update(nullptr, run.audio, nullptr, nullptr, 16.0f, now);
    });
    state.counters["awake"] = awakeBodies(run.world.physics());
}
BENCHMARK(BM_WorldUpdate)->Unit(benchmark::kMicrosecond)->Iterations(3000);

void BM_PhysicsStepAlone(benchmark::State& state) {
    Run run;
    run.world.getCamera().body()->SetLinearVelocity(b2Vec2(0.0f, 0.0f));
    timeFrames(state, [&] { run.world.physics().Step(1.0f / 60.0f, 6, 4); });
    state.counters["awake"] = awakeBodies(run.world.physics());
}
BENCHMARK(BM_PhysicsStepAlone)->Unit(benchmark::kMicrosecond)->Iterations(3000);

// The player inflated among many fixtures its outer circle touches, holding jump (the inflation
// casts 16 rays per touching fixture): the player's and the camera's update against the physics step alone.
PristineLevel::Data crowdedLevel() {
    levels::LevelBuilder b;
    std::vector<glm::vec2> ground;
    for (int i = 0; i <= 2; ++i) {
        ground.push_back({-10.0f + float(i) * 10.0f, 0.0f});
    }
    b.ground(ground, -10.0f, glm::vec4(1.0f));
    b.checkPoint({0.0f, 0.5f});
    for (int i = 0; i < 24; ++i) {
        float const angle = float(i) * 6.2831853f / 24.0f;
        glm::vec2 const at = glm::vec2(0.0f, 0.5f) + 0.75f * glm::vec2(std::cos(angle), std::sin(angle));
        b.data().staticShapes.push_back(levels::boxShape(at, {0.05f, 0.05f}, levels::Fixture{}));
    }
    return b.data();
}

struct Crowd {
    EventHandler events;
    SilentMusic music;
    Audio::Context audio{Audio::Context::Parameters{0.001f, 0xD004u, 15.0f, 15.0f}};
    World world{nullptr, nullptr, &events, crowdedLevel(), nullptr, GameMode::Normal, boost::none};
    ControlSchemeInputState input{1, 0, 1, 0, 1.0f};

    Crowd() {
        world.setMusicService(&music);
        for (int i = 0; i < 60; ++i) {
            events.dispatch();
            world.update(nullptr, audio, nullptr, &input, 16.0f, float(i) * 16.0f);
        }
    }
};

void BM_PlayerAndCamera(benchmark::State& state) {
    Crowd crowd;
    timeFrames(state, [&] {
        crowd.world.getPlayer().update(crowd.input, crowd.world.physics(), crowd.world.getCamera(), 16.0f);
        crowd.world.getCamera().update(nullptr, &crowd.audio, nullptr, nullptr, 0.0f, 16.0f);
    });
}
BENCHMARK(BM_PlayerAndCamera)->Unit(benchmark::kMicrosecond)->Iterations(3000);

void BM_CrowdedPhysicsStepAlone(benchmark::State& state) {
    Crowd crowd;
    // Nothing drives the camera body here: left moving, its large sensor would sweep the level.
    crowd.world.getCamera().body()->SetLinearVelocity(b2Vec2(0.0f, 0.0f));
    timeFrames(state, [&] { crowd.world.physics().Step(1.0f / 60.0f, 6, 4); });
}
BENCHMARK(BM_CrowdedPhysicsStepAlone)->Unit(benchmark::kMicrosecond)->Iterations(3000);

}  // namespace

BENCHMARK_MAIN();
