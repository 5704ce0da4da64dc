// The real music player: a generated AAC track plays from memory through OpenAL's loopback
// device, and what the device renders is sound, not silence.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "os/services/Music.h"
#include "platform/tests/LoopbackDevice.h"
#include "testing/TestPaths.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZELV_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZELV_SANITIZED 1
#endif
#endif

namespace {

using Loopback = testing_support::LoopbackDevice;

music_services::Bytes fileBytes(std::filesystem::path const& path) {
    std::ifstream in(path, std::ios::binary);
    auto bytes = std::make_shared<std::vector<uint8_t>>(std::istreambuf_iterator<char>(in),
                                                        std::istreambuf_iterator<char>());
    return {bytes, bytes->data(), bytes->size()};
}

std::filesystem::path media(char const* name) { return testing_support::sourceDir() / "platform/tests/media" / name; }

// Tracks come from the generated media folder and play into a loopback device.
class Music : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(loop.context) << "no OpenAL loopback device";
        music_services::setFileOpener([](char const* path) { return fileBytes(media(path)); });
    }
    void TearDown() override {
        stopMusic();
        music_services::setFileOpener(nullptr);
    }
    Loopback loop;
};

TEST_F(Music, GeneratedTrackPlaysAudiblyThroughLoopbackAndStops) {

    playMusic("tone.m4a", false, true);
    bool playing = false;
    music_services::runOnQueue([&](platform::MusicPlayer* p) { playing = p && p->isPlaying(); });
    ASSERT_TRUE(playing);
    // Skip the decoder's priming, then listen for a while; the queue refills meanwhile.
    int peak = 0;
    for (int i = 0; i < 20; ++i) {
        peak = std::max(peak, loop.peak(2048));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GT(peak, 1000);

    // Seeking moves the clock: position 1000 with the track near the start is far off.
    syncMusic(1000, 100);
    double at = 0;
    music_services::runOnQueue([&](platform::MusicPlayer* p) { at = p ? p->currentTime() : -1; });
    EXPECT_NEAR(at, 1.0, 0.1);

    stopMusic();
    music_services::runOnQueue([&](platform::MusicPlayer* p) { playing = p != nullptr; });
    EXPECT_FALSE(playing);
    loop.peak(4096);  // the mixer fades a stopped source out
    EXPECT_LT(loop.peak(4096), 8);  // dither only
}

TEST_F(Music, LoopingTrackKeepsPlayingPastItsEndAndASingleOneStops) {
    for (bool looping : {true, false}) {
        playMusic("tone.m4a", looping, true);
        // Three times the 1.5 s track, fed as the music thread refills.
        int lastPeak = 0;
        for (int i = 0; i < 64; ++i) {
            lastPeak = loop.peak(2048);
            std::this_thread::sleep_for(std::chrono::milliseconds(8));
        }
        if (looping)
            EXPECT_GT(lastPeak, 1000);
        else
            EXPECT_LT(lastPeak, 8);
        stopMusic();
    }
}

TEST_F(Music, DamagedOrMissingTrackLeavesNoPlayer) {
    auto garbage = std::make_shared<std::vector<uint8_t>>(5000, uint8_t(0x5a));
    auto truncated = fileBytes(media("tone.m4a"));
    truncated.size /= 3;
    for (auto bytes : {music_services::Bytes{garbage, garbage->data(), garbage->size()}, truncated,
                       music_services::Bytes{}}) {
        music_services::setFileOpener([bytes](char const*) { return bytes; });
        playMusic("x.m4a", true, true);
        // A truncated file may still play its first part; it must simply not crash or hang.
        for (int i = 0; i < 10; ++i) loop.peak(4096);
        pauseMusic();
        resumeMusic();
        stopMusic();
    }
    music_services::setFileOpener(nullptr);
    playMusic("/nonexistent/track.m4a", false, true);
    bool any = true;
    music_services::runOnQueue([&](platform::MusicPlayer* p) { any = p != nullptr; });
    EXPECT_FALSE(any);
}

// Leaves no address space for a thread's stack, then drives the music functions; exits 0 when
// they neither threw nor hung and kept the volume.
[[noreturn]] void musicWithoutThreads() {
    std::ifstream status("/proc/self/status");
    std::string line;
    uint64_t sizeKb = 0;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0) sizeKb = std::stoull(line.substr(7));
    rlimit const limit{rlim_t((sizeKb + 4096) * 1024), rlim_t((sizeKb + 4096) * 1024)};
    if (sizeKb == 0 || setrlimit(RLIMIT_AS, &limit) != 0) std::exit(3);
    try {
        std::thread probe([] {});
        probe.join();
        std::exit(4);  // threads still start: the limit proves nothing
    } catch (std::system_error const&) {
    }
    playMusic("tone.m4a", true, true);
    setMusicVolume(0.5f);
    pauseMusic();
    stopMusic();
    std::exit(music_services::storedVolume() == 0.5f ? 0 : 5);
}

// With no address space left for a thread's stack the music queue cannot start: the game runs
// silent, and stopping music (which a destructor does) neither throws nor waits for nobody.
TEST(MusicWithoutThreads, NoQueueThreadMeansNoMusicAndNoThrow) {
#ifdef ZELV_SANITIZED
    GTEST_SKIP() << "sanitizers reserve more address space than the limit leaves";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: the queue not yet built
    EXPECT_EXIT(musicWithoutThreads(), ::testing::ExitedWithCode(0), "no music this run");
}

}  // namespace
