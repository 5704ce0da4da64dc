#pragma once
// The real video player: FFmpeg reads and decodes the file, frames are converted to RGBA and
// drawn as one texture with GL ES 2.0, the sound is streamed through OpenAL.
#include <AL/al.h>
#include <AL/alc.h>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/PcmConverter.h"
#include "platform/VideoPlayer.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace platform {

class FfmpegVideoPlayer : public VideoPlayer {
public:
    // Null when the file is missing or holds no decodable video. soundContext may be null (silent).
    static std::unique_ptr<FfmpegVideoPlayer> open(std::string const& path, ALCcontext* soundContext);
    ~FfmpegVideoPlayer() override;

    bool update(int64_t elapsedMs) override;
    void draw(int viewportWidth, int viewportHeight) override;
    void pause() override;
    void resume() override;
    uint64_t framesShown() const override { return framesShown_; }

    int width() const { return width_; }
    int height() const { return height_; }
    // The current frame, RGBA rows top to bottom.
    std::vector<uint8_t> const& pixels() const { return rgba_; }

private:
    FfmpegVideoPlayer() = default;
    bool openFile(std::string const& path, ALCcontext* soundContext);
    // Reads packets until a video frame is decoded into frame_; false at the end.
    bool nextVideoFrame();
    void decodeAudio(AVPacket* packet);
    void feedSound();
    void releaseGl();

    AVFormatContext* format_ = nullptr;
    AVCodecContext* video_ = nullptr;
    AVCodecContext* audio_ = nullptr;
    SwsContext* scaler_ = nullptr;
    PcmConverter converter_;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* audioFrame_ = nullptr;
    int videoStream_ = -1;
    int audioStream_ = -1;
    int width_ = 0, height_ = 0;
    double timeBase_ = 0;
    double nextFrameMs_ = 0;  // presentation time of the decoded frame waiting in frame_
    bool haveNext_ = false;
    bool ended_ = false;
    bool videoDrained_ = false;
    uint64_t framesShown_ = 0;
    std::vector<uint8_t> rgba_;
    bool textureDirty_ = false;

    ALCcontext* soundContext_ = nullptr;
    ALuint source_ = 0;
    std::array<ALuint, 6> buffers_{};
    std::vector<ALuint> freeBuffers_;
    std::vector<int16_t> pcm_;
    int audioRate_ = 44100;

    unsigned texture_ = 0, program_ = 0, vbo_ = 0;
};

}  // namespace platform
