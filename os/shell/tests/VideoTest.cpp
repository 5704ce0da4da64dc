// The real video player: a generated clip decodes to frames at their times, draws full screen on
// GL ES 2.0 without disturbing the game's GL state, plays its sound, and through the shell ends
// in the done callback; damaged files end at once.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "os/services/ShellServices.h"
#include "os/shell/AppDelegate.h"
#include "os/shell/MainQueue.h"
#include "os/shell/RatingPrompt.h"
#include "os/shell/tests/ShellFakes.h"
#include "platform/FfmpegVideoPlayer.h"
#include "platform/tests/LoopbackDevice.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace {

std::filesystem::path clip() { return testing_support::sourceDir() / "platform/tests/media/clip.mp4"; }

using Loopback = testing_support::LoopbackDevice;

TEST(Video, ClipDecodesFramesOnTimeDrawsAndPlaysItsSound) {
    testing_support::pinGlDriver();
    testing_support::GlTestContext gl(160, 90);
    ASSERT_TRUE(gl.ok());
    gl.bindTarget();
    Loopback sound;
    ASSERT_TRUE(sound.context);
    auto player = platform::FfmpegVideoPlayer::open(clip().string(), sound.context);
    ASSERT_TRUE(player);
    EXPECT_EQ(player->width(), 96);
    EXPECT_EQ(player->height(), 64);

    EXPECT_TRUE(player->update(0));
    EXPECT_EQ(player->framesShown(), 1u);
    bool nonBlack = false;
    for (size_t i = 0; i < player->pixels().size(); i += 4) nonBlack |= player->pixels()[i] > 40;
    EXPECT_TRUE(nonBlack);

    // The game's state before the video draws, including attribute pointers its context caches.
    GLuint gameBuffer = 0;
    glGenBuffers(1, &gameBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, gameBuffer);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 20, reinterpret_cast<void*>(4));
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 20, reinterpret_cast<void*>(12));
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glUseProgram(0);
    glEnable(GL_BLEND);
    glViewport(3, 4, 50, 60);
    player->draw(gl.width(), gl.height());
    for (GLuint i = 0; i < 2; ++i) {
        GLint size = 0, stride = 0, buffer = 0;
        void* offset = nullptr;
        glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_SIZE, &size);
        glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &stride);
        glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &buffer);
        glGetVertexAttribPointerv(i, GL_VERTEX_ATTRIB_ARRAY_POINTER, &offset);
        EXPECT_EQ(size, i == 0 ? 3 : 2);
        EXPECT_EQ(stride, 20);
        EXPECT_EQ(GLuint(buffer), gameBuffer);
        EXPECT_EQ(offset, reinterpret_cast<void*>(i == 0 ? 4 : 12));
    }
    glDeleteBuffers(1, &gameBuffer);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    GLint program = -1, viewport[4] = {};
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(program, 0);
    EXPECT_EQ(viewport[0], 3);
    EXPECT_EQ(viewport[2], 50);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    // Aspect fill: the whole target is covered, corners included.
    int covered = 0;
    for (auto [x, y] : {std::pair{0, 0}, {159, 0}, {0, 89}, {159, 89}, {80, 45}}) covered += (gl.pixel(x, y) >> 24) == 255;
    EXPECT_EQ(covered, 5);

    // 15 frames a second for one second: about 15 frames, then the end.
    int64_t t = 0;
    int peak = 0;
    while (player->update(t) && t < 5000) {
        t += 33;
        peak = std::max(peak, sound.peak(1455));
    }
    EXPECT_GE(player->framesShown(), 13u);
    EXPECT_LE(player->framesShown(), 16u);
    EXPECT_GE(t, 900);
    EXPECT_LE(t, 1300);
    EXPECT_GT(peak, 500);
    EXPECT_FALSE(player->update(t + 1000));
}

TEST(Video, MissingOrDamagedFilesOpenToNothing) {
    testing_support::TempDir dir;
    std::ifstream in(clip(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(dir / "half.mp4", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    std::ofstream(dir / "head.mp4", std::ios::binary) << bytes.substr(0, 200);
    std::ofstream(dir / "noise.mp4", std::ios::binary) << std::string(4000, '\x7f');
    EXPECT_FALSE(platform::FfmpegVideoPlayer::open((dir / "missing.mp4").string(), nullptr));
    EXPECT_FALSE(platform::FfmpegVideoPlayer::open((dir / "head.mp4").string(), nullptr));
    EXPECT_FALSE(platform::FfmpegVideoPlayer::open((dir / "noise.mp4").string(), nullptr));
    // Half a file plays what it holds and then ends.
    if (auto p = platform::FfmpegVideoPlayer::open((dir / "half.mp4").string(), nullptr)) {
        int64_t t = 0;
        while (p->update(t) && t < 5000) t += 33;
        EXPECT_LT(t, 5000);
    }
}

struct RealVideoPlatform : fakes::Platform {
    using fakes::Platform::Platform;
    std::unique_ptr<platform::VideoPlayer> openVideo(std::string const& path) override {
        return platform::FfmpegVideoPlayer::open(path, nullptr);
    }
};

TEST(Video, ShellPlaysTheClipToItsEndAndCallsDoneOnce) {
    testing_support::pinGlDriver();
    testing_support::GlTestContext gl(160, 90);
    ASSERT_TRUE(gl.ok());
    gl.bindTarget();
    os::RatingPrompt::setPlatform(std::make_unique<fakes::QuietRating>());
    std::vector<std::string> log;
    RealVideoPlatform platform(&log);
    {
        os::AppDelegate delegate(platform, [&] { return std::make_unique<fakes::App>(&log); });
        ASSERT_TRUE(delegate.applicationDidFinishLaunching());
        delegate.mainLoop();
        int done = 0;
        playVideo(clip().c_str(), [&] { ++done; });
        ASSERT_TRUE(delegate.playingVideo());
        // The clip's clock moves at least 16 ms a frame: 625 frames are 10 s of it, however slowly
        // a loaded machine draws them.
        auto const start = std::chrono::steady_clock::now();
        for (int frame = 0; done == 0 && frame < 625; ++frame) {
            delegate.mainLoop();
            std::this_thread::sleep_for(std::chrono::milliseconds(16));
        }
        EXPECT_EQ(done, 1);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(800));
        delegate.mainLoop();
        EXPECT_EQ(done, 1);
        playVideo("/nonexistent.mp4", [&] { ++done; });
        EXPECT_EQ(done, 2);
    }
    os::MainQueue::shared().clear();
    os::RatingPrompt::setPlatform(nullptr);
}

}  // namespace

// Everything the shell writes (documents, the analytics agent's data) stays in a folder of
// this run's own.
static testing_support::TempDir documents;
static bool const documentsSet = [] {
    setenv("ZELV_DOCUMENTS_DIR", documents.path().c_str(), 1);
    setenv("XDG_DATA_HOME", (documents / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (documents / "cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (documents / "config").c_str(), 1);
    return true;
}();
