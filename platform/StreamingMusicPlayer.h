#pragma once
// The real music player: decodes a track (AAC in an MPEG-4 file, or anything else FFmpeg reads)
// from bytes in memory and streams it through a few OpenAL buffers on one source.
#include <AL/al.h>
#include <AL/alc.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/MusicPlayer.h"
#include "platform/PcmConverter.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;

namespace platform {

class StreamingMusicPlayer : public MusicPlayer {
public:
    // Null when the bytes hold no decodable sound or there is no sound context. The bytes must
    // outlive the player.
    static std::unique_ptr<MusicPlayer> create(uint8_t const* data, size_t size, ALCcontext* context);
    ~StreamingMusicPlayer() override;

    void setLooping(bool endless) override { looping_ = endless; }
    void setVolume(float volume) override;
    void play() override;
    void pause() override;
    void stop() override;
    bool isPlaying() const override { return playing_; }
    double currentTime() const override;
    void setCurrentTime(double seconds) override;
    void service() override;

    int sampleRate() const { return rate_; }

private:
    static constexpr int kBuffers = 4;
    static constexpr int kFramesPerBuffer = 8192;

    StreamingMusicPlayer(uint8_t const* data, size_t size, ALCcontext* context);
    bool open();
    void bind() const;
    // Decodes up to kFramesPerBuffer stereo frames into pcm_; false at the end of the track.
    bool decodeChunk();
    // Fills and queues free buffers; true when anything was queued.
    bool fill(std::vector<ALuint> const& freeBuffers);
    void clearQueue();
    bool seekTo(double seconds);
    static int readPacket(void* opaque, uint8_t* buf, int size);
    static int64_t seekBytes(void* opaque, int64_t offset, int whence);

    uint8_t const* data_;
    size_t size_;
    size_t readPos_ = 0;
    ALCcontext* context_;
    AVIOContext* io_ = nullptr;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    PcmConverter converter_;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int stream_ = -1;
    int rate_ = 44100;
    bool looping_ = false;
    bool playing_ = false;
    bool ended_ = false;     // the decoder reached the end of a track that plays once
    bool drained_ = false;   // the decoder was flushed at the end of the stream
    bool producedSinceRestart_ = false;
    ALuint source_ = 0;
    std::array<ALuint, kBuffers> buffers_{};
    std::vector<int16_t> pcm_;
    std::vector<int16_t> pending_;  // decoded frames not yet in a buffer
    std::array<int64_t, kBuffers> bufferFrames_{};
    int64_t framesDone_ = 0;  // frames of buffers already played, from the position base
    double positionBase_ = 0;  // seconds at the start of framesDone_
};

}  // namespace platform
