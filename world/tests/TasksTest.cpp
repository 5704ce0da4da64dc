#include <box2d/b2_body.h>
#include <gtest/gtest.h>

#include <cmath>

#include "world/tests/WorldRig.h"

using world_test::flatLevel;
using world_test::Heard;
using world_test::Rig;

// The output is raised in the first update whose clock passes input time + delay, and heard at
// the next dispatch; a death in between drops it for good.
TEST(Tasks, DelayedSignalsFireTheirDelayLaterUnlessThePlayerDies) {
    auto b = flatLevel();
    b.delayedSignal(501, 502, 1000.0f);
    b.delayedSignal(503, 504, 1000.0f);
    b.delayedSignal(505, 506, std::nanf(""));  // dropped with a log line
    Rig rig(b.data());
    Heard heard(&rig.events, {501, 502, 503, 504});
    float const dt = 1000.0f / 60.0f;
    rig.raise(501);
    rig.frames(18, dt, &heard);  // 300 ms later, a second input
    rig.raise(501);
    rig.frames(70, dt, &heard);
    int const in = heard.firstFrame(501);
    ASSERT_EQ(in, 0);
    std::vector<int> outs;
    for (std::size_t i = 0; i < heard.frames().size(); ++i) {
        for (std::size_t k = 0; k < heard.frames()[i].count(502); ++k) {
            outs.push_back(int(i));
        }
    }
    ASSERT_EQ(outs.size(), 2u);
    EXPECT_NEAR(double(outs[0] - in) * dt, 1000.0, dt + 1.0);
    EXPECT_NEAR(outs[1] - outs[0], 18, 1) << "two inputs 300 ms apart give two outputs 300 ms apart";

    rig.raise(503);
    rig.frames(30, dt, &heard);  // 500 ms
    rig.world->getPlayer().kill();
    rig.frames(62, dt, &heard);
    EXPECT_TRUE(rig.world->getPlayer().isAlive()) << "respawned";
    EXPECT_EQ(heard.count(504), 0);
    EXPECT_TRUE(rig.world->tasks().empty());
}

// A shaker is stepped by one task however often it starts; only its update ends the task.
TEST(Tasks, OneTaskPerShakerRun) {
    auto b = flatLevel();
    b.cameraShaker({0.0f, 0.0f}, 511, 512, 200.0f);
    b.cameraShaker({0.0f, 0.0f}, 511, 0, 1000.0f);
    Rig rig(b.data());
    rig.raise(512);  // not running: no task
    rig.frame();
    EXPECT_TRUE(rig.world->tasks().empty());
    rig.raise(511);
    rig.frame();
    EXPECT_EQ(rig.world->tasks().size(), 2u);
    rig.raise(511);
    rig.frame();
    EXPECT_EQ(rig.world->tasks().size(), 2u) << "a restart keeps the shaker's one task";
    rig.frames(12);
    ASSERT_EQ(rig.world->tasks().size(), 1u);
    EXPECT_EQ(rig.world->tasks()[0].owner(), reinterpret_cast<std::uintptr_t>(&rig.world->cameraShakers()[1]));
    rig.frames(50);
    EXPECT_TRUE(rig.world->tasks().empty());
}

// interval 1000, inputs every frame: one output at once, then one each time the timer has
// reached the interval again, up to maxCount until the reset.
TEST(Tasks, SignalFilterPassesOncePerIntervalUpToItsCount) {
    auto b = flatLevel();
    b.signalFilter(521, 522, 523, 3, 1000.0f);
    b.signalFilter(521, 524, 0, 0, 0.0f);  // maxCount 0: never
    b.signalFilter(521, 525, 0, -1, 0.0f);  // interval 0: always
    Rig rig(b.data());
    Heard heard(&rig.events, {522, 524, 525});
    for (int i = 0; i < 200; ++i) {
        rig.raise(521);
        rig.frame(50.0f, &heard);
    }
    std::vector<int> passes;
    for (std::size_t i = 0; i < heard.frames().size(); ++i) {
        if (heard.frames()[i].count(522) != 0) {
            passes.push_back(int(i));
        }
    }
    // Outputs raised inside a dispatch are delivered by it.
    EXPECT_EQ(passes, (std::vector<int>{0, 20, 40}));
    EXPECT_EQ(heard.count(524), 0);
    EXPECT_EQ(heard.count(525), 200);
    rig.raise(523);
    rig.raise(521);
    rig.frame(50.0f, &heard);
    EXPECT_EQ(heard.frames().back().count(522), 1u) << "after the reset the first input passes at once";
}

// Play fades up to the descriptor's gain over the fade-in time and follows its body; stop fades
// down and stops the source; leaving the active list silences it at once.
TEST(Tasks, TriggerableSoundsFadeAndFollowTheirBody) {
    auto b = flatLevel();
    uint32_t const body = b.boxBody({4.0f, 10.0f}, {0.5f, 0.5f});
    b.triggerableSound("audio/Dravo_Menu_CogWheelLoadingLoop.wav", 531, 532, int32_t(body), 200.0f, 100.0f);
    b.data().triggerableSounds[0].disableSignal = 533;
    b.data().triggerableSounds[0].enableSignal = 0;
    b.triggerableSound("audio/Dravo_Menu_CogWheelLoadingLoop.wav", 534, 0, -1, 0.0f, 0.0f);
    Rig rig(b.data());
    ASSERT_TRUE(rig.audio.hasDevice());
    TriggerableSound& sound = rig.world->sounds()[0];
    float const full = 0.8f;
    rig.raise(531);
    rig.frame(50.0f);
    EXPECT_TRUE(sound.sound().isPlaying());
    EXPECT_NEAR(sound.gain(), full * 0.25f, 1e-4f);
    rig.frames(5, 50.0f);
    EXPECT_FLOAT_EQ(sound.gain(), full);
    b2Vec2 const at = rig.world->dynamicBodies()[body].getBody()->GetPosition();
    EXPECT_FLOAT_EQ(sound.sound().params().position.x, at.x);
    EXPECT_FLOAT_EQ(sound.sound().params().position.y, at.y);

    rig.raise(532);
    rig.frame(50.0f);
    EXPECT_NEAR(sound.gain(), full * 0.5f, 1e-4f);
    rig.raise(531);  // during the fade-out: turns it round from where it stands
    rig.frame(50.0f);
    EXPECT_NEAR(sound.gain(), full * 0.75f, 1e-4f);
    rig.raise(532);
    rig.frames(3, 50.0f);
    EXPECT_FLOAT_EQ(sound.gain(), 0.0f);
    EXPECT_FALSE(sound.sound().isPlaying());

    TriggerableSound& instant = rig.world->sounds()[1];
    rig.raise(534);
    rig.frame(1.0f);
    EXPECT_FLOAT_EQ(instant.gain(), full) << "a fade-in time of 0 plays at full gain at once";

    rig.raise(531);
    rig.frame(50.0f);
    rig.raise(533);
    rig.frame(50.0f);
    EXPECT_FALSE(sound.sound().isPlaying());
    float const frozen = sound.gain();
    rig.frames(3, 50.0f);
    EXPECT_FLOAT_EQ(sound.gain(), frozen) << "no updates outside the active list";
}
