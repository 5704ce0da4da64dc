#include <gtest/gtest.h>

#include <set>
#include <string>

#include "audio/OpusDecoder.h"
#include "audio/Sound.h"
#include "audio/tests/LoopbackDevice.h"
#include "os/Assets.h"
#include "os/FileSystem.h"

namespace {

// The data archive holds a playable, distinct sound for every entry of the sound table, and
// every positional one is mono so that it can be placed.
TEST(SampleSounds, EverySoundOfTheTableDecodesAndIsHeard) {
    auto pak = testing_support::binaryDir() / "pak0.pak";
    ASSERT_NE(Singleton<FileSystem>::instance().mount(pak.string()), nullptr) << pak << " not built";

    audio_test::LoopbackContext lb;
    std::set<std::vector<int16_t>> distinct;
    for (SoundDescriptor const& d : Assets::sounds) {
        auto file = Singleton<FileSystem>::instance().open(d.path);
        auto decoded = Audio::OpusDecoder::decode(file->data(), size_t(file->size()));
        ASSERT_TRUE(decoded.ok) << d.path << ": " << decoded.error;
        EXPECT_GT(decoded.frames(), 2400u) << d.path;
        // Short effects; the bonus games' countdown spans its four seconds.
        size_t const longest = &d == &Assets::sndDravoBonusGameCountDown ? 4 : 2;
        EXPECT_LE(decoded.frames(), longest * audio_test::mixRate) << d.path;
        if (d.params.flags & SoundParams::positional) {
            EXPECT_EQ(decoded.channels, 1) << d.path;
        }
        distinct.insert(std::move(decoded.samples));

        Sound s(&lb.context, d);
        SoundParams audible = d.params;
        audible.gain = 1.0f;
        audible.flags = 0;
        s.play(audible);
        auto level = lb.run(40);
        EXPECT_GT(level.left + level.right, 0.01f) << d.path;
        s.stop();
    }
    EXPECT_EQ(distinct.size(), Assets::soundCount);
}

}  // namespace
