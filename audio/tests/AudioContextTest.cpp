#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <vector>

#include "audio/Sound.h"
#include "audio/tests/LoopbackDevice.h"
#include "os/services/Music.h"
#include "os/services/PlatformServices.h"

using audio_test::click;
using audio_test::dataPath;
using audio_test::looping;
using audio_test::tone;

namespace {

struct AudioLoopback : ::testing::Test {
    audio_test::LoopbackContext lb;
    Audio::Context& ctx = lb.context;

    // The bank entry of a sound some handle holds, looked at without keeping a reference.
    Audio::BufferEntry* entryOf(std::string const& path) {
        Audio::BufferEntry* entry = ctx.acquireBuffer(ctx.hashName(path), nullptr);
        ctx.releaseBuffer(ctx.hashName(path), nullptr, nullptr);
        return entry;
    }
};

TEST_F(AudioLoopback, HandlesOfOnePathShareOneBufferUntilTheLastGoes) {
    ASSERT_TRUE(lb.hasDevice());
    auto a = std::make_unique<Sound>(&ctx, tone());
    auto b = std::make_unique<Sound>(&ctx, tone());
    Sound other(&ctx, click(looping()));
    ASSERT_EQ(ctx.bank().count(), 2u);
    Audio::BufferEntry* entry = entryOf(dataPath("tone_mono.opus"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->refCount, 2);
    EXPECT_NE(entry->buffer, 0u);

    a.reset();
    EXPECT_EQ(entry->refCount, 1);
    b->play();
    b->stop();
    b.reset();
    EXPECT_EQ(ctx.bank().count(), 1u);  // nothing played it any more: deleted at once
    EXPECT_EQ(ctx.fading().count(), 0u);
}

TEST_F(AudioLoopback, ReleasedSoundFadesAtTheContextRateThenFreesItsBuffer) {
    auto sound = std::make_unique<Sound>(&ctx, tone());
    sound->play();
    float const full = lb.run(100).left;
    ASSERT_GT(full, 0.1f);
    Audio::Source const& source = ctx.source(0);
    sound.reset();
    ASSERT_EQ(ctx.fading().count(), 1u);
    EXPECT_EQ(source.owner(), &ctx.fading());

    // 0.001 per ms: 100 ms frames take a tenth of the gain each.
    float last = full;
    for (int frame = 1; frame <= 9; ++frame) {
        auto level = lb.run(100);
        EXPECT_NEAR(source.gain(), 1.0f - 0.1f * frame, 1e-3f) << frame;
        EXPECT_LT(level.left, last) << frame;
        last = level.left;
        EXPECT_EQ(ctx.bank().count(), 1u) << "buffer freed while still heard, frame " << frame;
    }
    int frames = 9;
    while (ctx.bank().count() != 0 && frames < 20) {
        lb.run(100);
        ++frames;
    }
    EXPECT_EQ(ctx.bank().count(), 0u);
    EXPECT_LE(frames, 12);  // gain 0, then stopped, then the buffer is given back
    EXPECT_EQ(ctx.fading().count(), 0u);
    EXPECT_TRUE(source.isFree());
    EXPECT_LT(lb.run(50).left, 1e-4f);
}

TEST_F(AudioLoopback, ASourceTakenOverAndReleasedAgainFadesOnceAtTheContextRate) {
    Sound keepTone(&ctx, tone());
    Sound keepClick(&ctx, click(looping()));
    // A sound fades out on source 0 and is stopped there (its list entry goes only next frame);
    // before that frame a handle of `next` starts on the freed source and goes at once.
    auto fadeThenReuse = [&](Sound& faded, Sound& next) {
        auto first = std::make_unique<Sound>(faded);
        first->play();
        first.reset();
        lb.run(1000);
        lb.run(10);
        ASSERT_TRUE(ctx.source(0).isFree());
        ASSERT_EQ(ctx.fading().count(), 1u);
        auto second = std::make_unique<Sound>(next);
        second->play();
        ASSERT_EQ(ctx.source(0).owner(), second.get());
        second.reset();
        lb.run(100);
        EXPECT_NEAR(ctx.source(0).gain(), 0.9f, 1e-4f);
        EXPECT_EQ(ctx.fading().count(), 1u);
        for (int i = 0; i < 11; ++i) lb.run(100);
        EXPECT_EQ(ctx.fading().count(), 0u);
    };
    Audio::BufferEntry* toneEntry = entryOf(dataPath("tone_mono.opus"));
    fadeThenReuse(keepTone, keepClick);  // another sound
    fadeThenReuse(keepTone, keepTone);   // the same sound
    EXPECT_EQ(toneEntry->refCount, 1);  // keepTone's: the fades gave theirs back

    // With no handle of it left, a sound reused that way still gives its buffer back once both
    // fades are over.
    keepClick = Sound();
    Sound last(&ctx, tone());
    auto only = std::make_unique<Sound>(&ctx, click(looping()));
    only->play();
    only.reset();
    lb.run(1000);
    lb.run(10);
    auto again = std::make_unique<Sound>(&ctx, click(looping()));
    again->play();
    again.reset();
    for (int i = 0; i < 14; ++i) lb.run(100);
    EXPECT_EQ(ctx.fading().count(), 0u);
    EXPECT_EQ(ctx.bank().count(), 1u);  // only the tone of `last`
}

TEST_F(AudioLoopback, TheThirtyThirdPlayGetsNoSource) {
    std::vector<Sound> sounds;
    sounds.reserve(33);
    for (int i = 0; i < 33; ++i) sounds.emplace_back(&ctx, tone());
    for (int i = 0; i < 32; ++i) {
        sounds[i].play();
        ASSERT_TRUE(sounds[i].isPlaying()) << i;
    }
    sounds[32].play();
    EXPECT_FALSE(sounds[32].isPlaying());
    EXPECT_EQ(ctx.playSound(nullptr, nullptr, looping()), nullptr);

    // Once one stops, its source serves the waiting handle.
    sounds[5].stop();
    lb.run(10);
    sounds[32].play();
    EXPECT_TRUE(sounds[32].isPlaying());
    EXPECT_EQ(ctx.bank().count(), 1u);
}

TEST_F(AudioLoopback, CategoryFadeGoesDownAndHoldsThenComesBack) {
    Sound level(&ctx, tone());
    Sound menu(&ctx, click(looping(1)));
    level.play();
    float const full = lb.run(50).left;
    ASSERT_GT(full, 0.1f);

    ctx.setCategoryFadeRate(0, -0.001f);
    lb.run(500);
    EXPECT_NEAR(ctx.categoryVolume(0), 0.5f, 1e-4f);
    EXPECT_NEAR(ctx.source(0).categoryVolume(), 0.5f, 1e-4f);
    EXPECT_NEAR(ctx.source(0).gain(), 1.0f, 1e-6f);  // the sound's own gain is untouched
    lb.run(600);
    EXPECT_EQ(ctx.categoryVolume(0), 0.0f);
    for (int i = 0; i < 5; ++i) lb.run(400);
    EXPECT_EQ(ctx.categoryVolume(0), 0.0f);
    EXPECT_LT(lb.run(50).left, 1e-4f);
    EXPECT_TRUE(level.isPlaying());  // silenced, not stopped

    // The other category is not affected, and a sound started now starts silent.
    EXPECT_EQ(ctx.categoryVolume(1), 1.0f);
    menu.play();
    EXPECT_GT(lb.run(50).left, 0.05f);
    menu.stop();

    ctx.setCategoryFadeRate(0, 0.001f);
    lb.run(1000);
    for (int i = 0; i < 5; ++i) lb.run(400);
    EXPECT_EQ(ctx.categoryVolume(0), 1.0f);
    EXPECT_NEAR(lb.run(50).left, full, full * 0.2f);

    // Set at once, on its own category only; categories from level data beyond the two are
    // played in the last one and ignored by the setters.
    menu.play();
    ctx.setCategoryVolume(0, 0.25f);
    EXPECT_EQ(ctx.source(0).categoryVolume(), 0.25f);
    EXPECT_EQ(ctx.source(1).categoryVolume(), 1.0f);
    ctx.setCategoryVolume(7, 0.0f);
    ctx.setCategoryFadeRate(7, -1.0f);
    Sound odd(&ctx, tone(looping(200)));
    odd.play();
    EXPECT_TRUE(odd.isPlaying());
    EXPECT_EQ(ctx.source(2).category(), 1);
}

TEST_F(AudioLoopback, PositionalSoundsPanWithTheListener) {
    SoundParams p({5, 0, 0}, SoundParams::positional | SoundParams::looping, 1.0f, 0, 1.25f, 2.0f);
    Sound s(&ctx, tone(p));
    ctx.setListener({0, 0, 0}, {0, 0, 0});
    s.play();
    lb.run(50);
    auto right = lb.run(100);
    EXPECT_GT(right.right, 2 * right.left);

    ctx.setListener({10, 0, 0}, {0, 0, 0});
    lb.run(50);
    auto left = lb.run(100);
    EXPECT_GT(left.left, 2 * left.right);

    // A listener-relative sound stays centred wherever the listener goes.
    s.stop();
    Sound centred(&ctx, tone());
    centred.play();
    lb.run(50);
    auto middle = lb.run(100);
    EXPECT_NEAR(middle.left, middle.right, 0.05f * middle.left);

    // Beyond the maximum distance a positional sound is silent.
    centred.stop();
    SoundParams far = p;
    far.position = {10 + 3 * audio_test::viewWidth, 0, 0};
    s.play(far);
    lb.run(50);
    auto quiet = lb.run(100);
    EXPECT_LT(quiet.left + quiet.right, 1e-4f);
    s.stop();

    // In between, the gain falls linearly from the reference distance (the context's times the
    // sound's factor) to the maximum distance: halfway it is half the level heard up close.
    ctx.setListener({0, 0, 0}, {0, 0, 0});
    float const reference = audio_test::viewWidth * p.referenceFactor;
    float const maximum = audio_test::viewWidth * p.maxFactor;
    auto heardAt = [&](float distance) {
        SoundParams ahead = p;
        ahead.position = {0, 0, -distance};  // straight ahead: both channels alike
        s.play(ahead);
        lb.run(50);
        auto level = lb.run(100);
        s.stop();
        return level.left + level.right;
    };
    float const close = heardAt(reference * 0.5f);
    ASSERT_GT(close, 0.05f);
    EXPECT_NEAR(heardAt((reference + maximum) * 0.5f) / close, 0.5f, 0.05f);
}

TEST_F(AudioLoopback, LocaleVariantIsUsedOnlyWhenItExists) {
    testing_support::TempDir dir;
    auto copy = [&](std::string const& from, std::string const& to) {
        std::ifstream in(dataPath(from), std::ios::binary);
        std::ofstream out(dir / to, std::ios::binary);
        out << in.rdbuf();
    };
    copy("click_mono.opus", "Jump.WAV");
    copy("tone_stereo.opus", std::string("Jump_") + preferredLocale() + ".wav");
    copy("click_mono.opus", "Land.wav");

    auto channels = [&](std::string const& name) {
        Sound s(&ctx, {(dir / name).string(), looping()});
        s.play();
        lb.run(10);
        ALint buffer = 0, count = 0;
        alGetSourcei(ctx.source(0).name(), AL_BUFFER, &buffer);
        alGetBufferi(buffer, AL_CHANNELS, &count);
        s.stop();
        return count;
    };
    EXPECT_EQ(channels("Jump.WAV"), 2);  // the variant, with the extension lower-cased
    EXPECT_EQ(channels("Land.wav"), 1);
}

TEST(AudioContext, MusicGoesToThePlayerAsItsLocaleVariantWhenThereIsOne) {
    testing_support::TempDir dir;
    std::ofstream(dir / (std::string("Track_") + preferredLocale() + ".m4a")) << "track";
    std::vector<std::string> opened;
    music_services::setFileOpener([&](char const* path) {
        opened.emplace_back(path);
        return music_services::Bytes{};
    });
    Audio::Context ctx(audio_test::gameParameters(), nullptr, nullptr);
    ctx.playMusic((dir / "Track.WAV").string().c_str(), true, true);
    ctx.playMusic((dir / "Other.wav").string().c_str(), false, true);
    ctx.playMusic(nullptr, false, true);
    music_services::setFileOpener(nullptr);
    EXPECT_EQ(opened, (std::vector<std::string>{(dir / (std::string("Track_") + preferredLocale() + ".m4a")).string(),
                                                (dir / "Other.wav").string()}));
}

TEST_F(AudioLoopback, BadFilesGiveSilentEntriesAndAFullBankRefuses) {
    for (char const* name : {"truncated.opus", "tone_three.opus", "random.bin", "missing.opus"}) {
        Sound s(&ctx, {dataPath(name), looping()});
        Audio::BufferEntry* entry = entryOf(dataPath(name));
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_EQ(entry->buffer, 0u) << name;
        s.play();
        EXPECT_LT(lb.run(20).left, 1e-4f) << name;
    }
    EXPECT_EQ(ctx.bank().count(), 0u);
    {
        Sound noExtension(&ctx, {"audio/no_extension", looping()});  // has no locale variant
        EXPECT_EQ(ctx.bank().count(), 1u);
    }

    // 128 distinct sounds fill the bank; the next is refused and its handle stays silent.
    std::vector<Sound> sounds;
    sounds.reserve(129);
    for (int i = 0; i < 128; ++i) sounds.emplace_back(&ctx, SoundDescriptor{"missing/" + std::to_string(i) + ".wav", {}});
    EXPECT_EQ(ctx.bank().count(), 128u);
    sounds.emplace_back(&ctx, tone());
    EXPECT_EQ(ctx.bank().count(), 128u);
    sounds.back().play();
    EXPECT_FALSE(sounds.back().isPlaying());
    // Freeing one makes room again, and the index stays sorted and complete.
    sounds.erase(sounds.begin() + 40);
    EXPECT_EQ(ctx.bank().count(), 127u);
    Sound later(&ctx, tone());
    EXPECT_EQ(ctx.bank().count(), 128u);
    for (size_t i = 1; i < ctx.bank().count(); ++i) EXPECT_LT(ctx.bank().at(i - 1).first, ctx.bank().at(i).first);
    sounds.clear();
    EXPECT_EQ(ctx.bank().count(), 1u);
}

TEST(AudioContext, DefaultDeviceOpensOnAHeadlessMachine) {
    // The test run selects OpenAL Soft's null output, as headless game runs do.
    Audio::Context ctx(audio_test::gameParameters());
    ASSERT_NE(ctx.device(), nullptr);
    EXPECT_EQ(alcGetCurrentContext(), ctx.alContext());
    Sound s(&ctx, tone());
    s.play();
    EXPECT_TRUE(s.isPlaying());
    ctx.update(16);
}

TEST(AudioContext, WithoutADeviceEverythingIsSilentAndSafe) {
    Audio::Context ctx(audio_test::gameParameters(), nullptr, nullptr);
    Sound s(&ctx, tone());
    s.play();
    ctx.update(16);
    ctx.setListener({1, 2, 3}, {0, 0, 0});
    ctx.setCategoryFadeRate(0, -0.001f);
    ctx.update(16);
    EXPECT_FALSE(s.isPlaying());
    ctx.setMusicVolume(0.5f);
    EXPECT_EQ(ctx.musicVolume(), 0.5f);
    ctx.playMusic("audio/music/none.wav", true, false);
    ctx.pauseMusic();
    ctx.resumeMusic();
    ctx.stopMusic();
}

}  // namespace
