#include "platform/StreamingMusicPlayer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include <AL/alext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

// The music thread renders into the context that was current where playMusic was called, even
// while another thread changes the process-wide current context.
PFNALCSETTHREADCONTEXTPROC threadContextFunction() {
    static PFNALCSETTHREADCONTEXTPROC const fn =
        reinterpret_cast<PFNALCSETTHREADCONTEXTPROC>(alcGetProcAddress(nullptr, "alcSetThreadContext"));
    return fn;
}

}  // namespace

std::unique_ptr<MusicPlayer> StreamingMusicPlayer::create(uint8_t const* data, size_t size, ALCcontext* context) {
    if (!data || size == 0) return nullptr;
    if (!context) {
        std::fprintf(stderr, "Music: no sound context, not playing\n");
        return nullptr;
    }
    std::unique_ptr<StreamingMusicPlayer> p(new StreamingMusicPlayer(data, size, context));
    if (!p->open()) return nullptr;
    return p;
}

StreamingMusicPlayer::StreamingMusicPlayer(uint8_t const* data, size_t size, ALCcontext* context)
    : data_(data), size_(size), context_(context) {}

StreamingMusicPlayer::~StreamingMusicPlayer() {
    if (source_) {
        bind();
        alSourceStop(source_);
        alSourcei(source_, AL_BUFFER, 0);
        alDeleteSources(1, &source_);
        alDeleteBuffers(kBuffers, buffers_.data());
        if (auto fn = threadContextFunction()) fn(nullptr);
    }
    if (frame_) av_frame_free(&frame_);
    if (packet_) av_packet_free(&packet_);
    if (codec_) avcodec_free_context(&codec_);
    if (format_) avformat_close_input(&format_);
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
}

void StreamingMusicPlayer::bind() const {
    if (auto fn = threadContextFunction()) fn(context_);
}

int StreamingMusicPlayer::readPacket(void* opaque, uint8_t* buf, int size) {
    auto* self = static_cast<StreamingMusicPlayer*>(opaque);
    size_t const left = self->size_ - self->readPos_;
    if (left == 0) return AVERROR_EOF;
    size_t const n = std::min(left, size_t(size));
    std::memcpy(buf, self->data_ + self->readPos_, n);
    self->readPos_ += n;
    return int(n);
}

int64_t StreamingMusicPlayer::seekBytes(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<StreamingMusicPlayer*>(opaque);
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return int64_t(self->size_);
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = int64_t(self->readPos_); break;
        case SEEK_END: base = int64_t(self->size_); break;
        default: return -1;
    }
    int64_t const pos = base + offset;
    if (pos < 0 || pos > int64_t(self->size_)) return -1;
    self->readPos_ = size_t(pos);
    return pos;
}

bool StreamingMusicPlayer::open() {
    constexpr int kIoBuffer = 32768;
    auto* ioBuffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
    if (!ioBuffer) return false;
    io_ = avio_alloc_context(ioBuffer, kIoBuffer, 0, this, &readPacket, nullptr, &seekBytes);
    if (!io_) {
        av_free(ioBuffer);
        return false;
    }
    format_ = avformat_alloc_context();
    if (!format_) return false;
    format_->pb = io_;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (avformat_open_input(&format_, nullptr, nullptr, nullptr) < 0) {
        format_ = nullptr;  // freed by a failed open
        std::fprintf(stderr, "Music: the track is not a readable media file\n");
        return false;
    }
    if (avformat_find_stream_info(format_, nullptr) < 0) return false;
    AVCodec const* decoder = nullptr;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (stream_ < 0 || !decoder) {
        std::fprintf(stderr, "Music: the track holds no sound\n");
        return false;
    }
    codec_ = avcodec_alloc_context3(decoder);
    if (!codec_ || avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar) < 0 ||
        avcodec_open2(codec_, decoder, nullptr) < 0)
        return false;
    if (!converter_.open(codec_)) return false;
    rate_ = converter_.rate();
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!packet_ || !frame_) return false;

    bind();
    alGetError();
    alGenSources(1, &source_);
    if (alGetError() != AL_NO_ERROR) {
        source_ = 0;
        return false;
    }
    alGenBuffers(kBuffers, buffers_.data());
    if (alGetError() != AL_NO_ERROR) {
        alDeleteSources(1, &source_);
        source_ = 0;
        return false;
    }
    // Music is not placed in the world.
    alSourcei(source_, AL_SOURCE_RELATIVE, AL_TRUE);
    alSource3f(source_, AL_POSITION, 0, 0, 0);
    alSourcef(source_, AL_ROLLOFF_FACTOR, 0);
    return true;
}

bool StreamingMusicPlayer::decodeChunk() {
    pcm_.swap(pending_);
    pending_.clear();
    size_t const want = size_t(kFramesPerBuffer) * 2;
    while (pcm_.size() < want) {
        int r = avcodec_receive_frame(codec_, frame_);
        if (r == 0) {
            if (converter_.append(frame_, pcm_) > 0) producedSinceRestart_ = true;
            av_frame_unref(frame_);
            continue;
        }
        if (r == AVERROR_EOF) {
            // A track that gave no sound since its last start would repeat nothing forever.
            if (!looping_ || !producedSinceRestart_) break;
            // Start over for the next repetition.
            av_seek_frame(format_, stream_, 0, AVSEEK_FLAG_BACKWARD);
            avcodec_flush_buffers(codec_);
            drained_ = false;
            producedSinceRestart_ = false;
            if (pcm_.empty()) continue;
            break;
        }
        if (r != AVERROR(EAGAIN)) break;  // a broken stream ends the track
        if (drained_) break;
        r = av_read_frame(format_, packet_);
        if (r < 0) {
            avcodec_send_packet(codec_, nullptr);
            drained_ = true;
            continue;
        }
        if (packet_->stream_index == stream_) avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
    }
    if (pcm_.size() > want) {
        pending_.assign(pcm_.begin() + ptrdiff_t(want), pcm_.end());
        pcm_.resize(want);
    }
    return !pcm_.empty();
}

bool StreamingMusicPlayer::fill(std::vector<ALuint> const& freeBuffers) {
    bool queued = false;
    for (ALuint b : freeBuffers) {
        if (ended_ || !decodeChunk()) {
            ended_ = true;
            break;
        }
        alBufferData(b, AL_FORMAT_STEREO16, pcm_.data(), ALsizei(pcm_.size() * sizeof(int16_t)), rate_);
        alSourceQueueBuffers(source_, 1, &b);
        for (int i = 0; i < kBuffers; ++i)
            if (buffers_[size_t(i)] == b) bufferFrames_[size_t(i)] = int64_t(pcm_.size() / 2);
        queued = true;
    }
    return queued;
}

void StreamingMusicPlayer::clearQueue() {
    alSourceStop(source_);
    alSourcei(source_, AL_BUFFER, 0);
}

void StreamingMusicPlayer::setVolume(float volume) {
    bind();
    alSourcef(source_, AL_GAIN, std::clamp(volume, 0.0f, 1.0f));
}

void StreamingMusicPlayer::play() {
    if (playing_) return;
    bind();
    ALint queued = 0;
    alGetSourcei(source_, AL_BUFFERS_QUEUED, &queued);
    if (queued == 0) {
        if (ended_) seekTo(0);
        fill(std::vector<ALuint>(buffers_.begin(), buffers_.end()));
    }
    alSourcePlay(source_);
    playing_ = true;
}

void StreamingMusicPlayer::pause() {
    bind();
    alSourcePause(source_);
    playing_ = false;
}

void StreamingMusicPlayer::stop() {
    bind();
    clearQueue();
    playing_ = false;
    seekTo(0);
}

double StreamingMusicPlayer::currentTime() const {
    bind();
    ALint offset = 0;
    alGetSourcei(source_, AL_SAMPLE_OFFSET, &offset);
    return positionBase_ + double(framesDone_ + offset) / double(rate_);
}

bool StreamingMusicPlayer::seekTo(double seconds) {
    AVStream* st = format_->streams[stream_];
    int64_t const ts = av_rescale_q(int64_t(seconds * AV_TIME_BASE), AVRational{1, AV_TIME_BASE}, st->time_base);
    bool const ok = av_seek_frame(format_, stream_, ts, AVSEEK_FLAG_BACKWARD) >= 0;
    avcodec_flush_buffers(codec_);
    pending_.clear();
    drained_ = false;
    ended_ = false;
    framesDone_ = 0;
    positionBase_ = ok ? seconds : 0;
    return ok;
}

void StreamingMusicPlayer::setCurrentTime(double seconds) {
    bind();
    clearQueue();
    seekTo(std::max(0.0, seconds));
    if (playing_) {
        playing_ = false;
        play();
    }
}

void StreamingMusicPlayer::service() {
    if (!playing_) return;
    bind();
    ALint processed = 0;
    alGetSourcei(source_, AL_BUFFERS_PROCESSED, &processed);
    std::vector<ALuint> done(size_t(std::max(processed, 0)));
    if (!done.empty()) alSourceUnqueueBuffers(source_, ALsizei(done.size()), done.data());
    for (ALuint b : done)
        for (int i = 0; i < kBuffers; ++i)
            if (buffers_[size_t(i)] == b) framesDone_ += bufferFrames_[size_t(i)];
    fill(done);
    ALint queued = 0, state = 0;
    alGetSourcei(source_, AL_BUFFERS_QUEUED, &queued);
    alGetSourcei(source_, AL_SOURCE_STATE, &state);
    if (queued == 0) {
        playing_ = false;  // a track played once has ended
        return;
    }
    if (state != AL_PLAYING) alSourcePlay(source_);  // recovered from running dry
}

}  // namespace platform
