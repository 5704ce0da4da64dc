// Level objects against the physics they ride on, each beside its baseline in the same run:
// the physics step of a stacked level with 30 body observers (every solved contact reaches each
// observer) against the same level with none; 20 boxes floating in water (step plus the water's
// forces) against the same boxes resting on the ground (step alone); and the allocations per frame
// after warm-up of a level with water, coins, sheets and rope sprites (update and draw).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

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

levels::LevelBuilder groundLevel() {
    levels::LevelBuilder b;
    b.ground({{-100.0f, 0.0f}, {100.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
    b.checkPoint({-90.0f, 1.0f});
    return b;
}

PristineLevel::Data stackedLevel(int observers) {
    auto b = groundLevel();
    for (int i = 0; i < 120; ++i) {
        b.boxBody({-30.0f + float(i % 30) * 2.0f, 0.4f + float(i / 30) * 0.8f}, {0.4f, 0.4f});
    }
    for (auto& body : b.data().dynamicBodies) {
        body.bodyDef.allowSleep = false;  // every contact solved every step
    }
    for (int i = 0; i < observers; ++i) {
        b.data().bodyObservers[b.bodyObserver(i)].impulseSignal = b.signal();
    }
    return b.data();
}

PristineLevel::Data floatingLevel(bool water) {
    auto b = groundLevel();
    if (water) {
        b.fluid({0.0f, 2.0f}, {25.0f, 2.0f});
    }
    for (int i = 0; i < 20; ++i) {
        b.boxBody({-20.0f + float(i) * 2.0f, water ? 3.8f : 0.4f}, {0.4f, 0.4f});
    }
    for (auto& body : b.data().dynamicBodies) {
        body.bodyDef.allowSleep = false;  // both runs keep every body solved
    }
    return b.data();
}

PristineLevel::Data objectsLevel() {
    auto b = groundLevel();
    b.fluid({-80.0f, 2.0f}, {6.0f, 2.0f});
    for (int i = 0; i < 6; ++i) {
        b.boxBody({-84.0f + float(i) * 1.5f, 5.0f + float(i)}, {0.4f, 0.4f});
        b.coin({-95.0f + float(i), 2.0f});
    }
    for (int i = 0; i < 4; ++i) {
        auto& t = b.data().animatedTextures[b.animatedTexture(b.quad({-90.0f + float(i), 4.0f}, {0.5f, 0.5f},
                                                                     glm::vec4(1.0f)))];
        t.rows = t.columns = 4;
        t.frameCount = 16;
        t.framesPerSecond = 30.0f;
    }
    PristineLevel::RopeJointDef rope;
    rope.bodyA = -1;
    rope.bodyB = 0;
    rope.localAnchorA = glm::vec2(-84.0f, 8.0f);
    rope.localAnchorB = glm::vec2(0.0f);
    rope.maxLength = 6.0f;
    b.joint(PristineLevel::RopeJoint{rope, {}});
    b.data().jointSprites.push_back({b.quad({-84.0f, 6.0f}, {0.1f, 0.1f}, glm::vec4(1.0f)), 0, glm::vec2(1.0f), 0.0f});
    return b.data();
}

struct Run {
    EventHandler events;
    SilentMusic music;
    Audio::Context audio{Audio::Context::Parameters{0.001f, 0xD004u, 15.0f, 15.0f}};
    World world;
    float now = 0.0f;

    explicit Run(PristineLevel::Data level)
        : world(nullptr, nullptr, &events, std::move(level), nullptr, GameMode::Normal, boost::none) {
        world.setMusicService(&music);
        for (int i = 0; i < 240; ++i) {
            frame();
        }
    }
    void frame() {
        events.dispatch();
        now += 16.0f;
        world.update(nullptr, audio, nullptr, nullptr, 16.0f, now);
        world.draw(nullptr);
    }
};

void stepOnly(benchmark::State& state, PristineLevel::Data level, bool fluids) {
    Run run(std::move(level));
    for (auto _ : state) {
        run.world.physics().Step(1.0f / 60.0f, 6, 4);
        if (fluids) {
            run.world.getFluids().update(16.0f);
        }
        run.events.dispatch();
    }
}

void BM_StepWith30Observers(benchmark::State& state) { stepOnly(state, stackedLevel(30), false); }
BENCHMARK(BM_StepWith30Observers)->Unit(benchmark::kMicrosecond);
void BM_StepWithoutObservers(benchmark::State& state) { stepOnly(state, stackedLevel(0), false); }
BENCHMARK(BM_StepWithoutObservers)->Unit(benchmark::kMicrosecond);

void BM_StepAndFluidsWith20Floating(benchmark::State& state) { stepOnly(state, floatingLevel(true), true); }
BENCHMARK(BM_StepAndFluidsWith20Floating)->Unit(benchmark::kMicrosecond);
void BM_StepWith20OnTheGround(benchmark::State& state) { stepOnly(state, floatingLevel(false), false); }
BENCHMARK(BM_StepWith20OnTheGround)->Unit(benchmark::kMicrosecond);

void BM_ObjectsFrameAllocations(benchmark::State& state) {
    Run run(objectsLevel());
    std::size_t const before = testing_support::allocationCount();
    std::size_t frames = 0;
    for (auto _ : state) {
        run.frame();
        ++frames;
    }
    state.counters["allocs_per_frame"] = double(testing_support::allocationCount() - before) / double(std::max<std::size_t>(frames, 1));
}
BENCHMARK(BM_ObjectsFrameAllocations)->Unit(benchmark::kMicrosecond)->Iterations(2000);

}  // namespace
BENCHMARK_MAIN();
