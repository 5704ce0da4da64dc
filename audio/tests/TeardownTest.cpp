#include <gtest/gtest.h>

#include <AL/alc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "audio/Sound.h"
#include "audio/tests/LoopbackDevice.h"

namespace {

// OpenAL Soft reports, in its log, every source and buffer still alive when a context or device
// goes away; the run sets ALSOFT_LOGFILE so the test can read what it said.
std::string openAlLog() {
    char const* path = std::getenv("ALSOFT_LOGFILE");
    if (!path) return {};
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(AudioTeardown, SourcesAndBuffersGoBeforeTheContextAndTheDevice) {
    ASSERT_NE(std::getenv("ALSOFT_LOGFILE"), nullptr);
    for (int round = 0; round < 2; ++round) {
        auto lb = std::make_unique<audio_test::LoopbackContext>();
        ASSERT_TRUE(lb->hasDevice());
        auto looping = std::make_unique<Sound>(&lb->context, audio_test::tone());
        auto once = std::make_unique<Sound>(&lb->context, audio_test::click());
        looping->play();
        once->play();
        lb->run(10);
        looping.reset();
        once.reset();
        ASSERT_EQ(lb->context.fading().count(), 2u);
        lb.reset();  // the context goes while two sounds fade out with their buffers loaded
        EXPECT_EQ(alcGetCurrentContext(), nullptr);
    }

    // A context that is no longer the current one still cleans up after itself, and leaves the
    // current one current.
    auto older = std::make_unique<audio_test::LoopbackContext>();
    {
        Sound fading(&older->context, audio_test::tone({}));
        fading.play();
        older->run(10);
    }
    ASSERT_EQ(older->context.fading().count(), 1u);
    audio_test::LoopbackContext newer;
    ASSERT_EQ(alcGetCurrentContext(), newer.context.alContext());
    older.reset();
    EXPECT_EQ(alcGetCurrentContext(), newer.context.alContext());
    Sound newerSound(&newer.context, audio_test::tone({}));
    newerSound.play();
    EXPECT_GT(newer.run(50).left, 0.05f);

    std::fflush(nullptr);  // the library's log stream too
    std::string const log = openAlLog();
    EXPECT_EQ(log.find("Deleted"), std::string::npos) << log;
}

}  // namespace
