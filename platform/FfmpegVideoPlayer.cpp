#include "platform/FfmpegVideoPlayer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <GLES2/gl2.h>

#include <algorithm>
#include <cstdio>

namespace platform {

namespace {

AVCodecContext* openDecoder(AVFormatContext* format, int stream) {
    AVCodec const* codec = avcodec_find_decoder(format->streams[stream]->codecpar->codec_id);
    if (!codec) return nullptr;
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c) return nullptr;
    if (avcodec_parameters_to_context(c, format->streams[stream]->codecpar) < 0 || avcodec_open2(c, codec, nullptr) < 0)
        avcodec_free_context(&c);
    return c;
}

char const* const kVertex =
    "attribute vec2 position;\n"
    "attribute vec2 uv;\n"
    "varying vec2 vUv;\n"
    "uniform vec2 scale;\n"
    "void main() { vUv = uv; gl_Position = vec4(position * scale, 0.0, 1.0); }\n";
char const* const kFragment =
    "precision mediump float;\n"
    "varying vec2 vUv;\n"
    "uniform sampler2D frame;\n"
    "void main() { gl_FragColor = texture2D(frame, vUv); }\n";

GLuint compile(GLenum type, char const* source) {
    GLuint s = glCreateShader(type);
    glShaderSource(s, 1, &source, nullptr);
    glCompileShader(s);
    GLint ok = 0;
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        glDeleteShader(s);
        return 0;
    }
    return s;
}

}  // namespace

std::unique_ptr<FfmpegVideoPlayer> FfmpegVideoPlayer::open(std::string const& path, ALCcontext* soundContext) {
    std::unique_ptr<FfmpegVideoPlayer> p(new FfmpegVideoPlayer());
    if (!p->openFile(path, soundContext)) return nullptr;
    return p;
}

bool FfmpegVideoPlayer::openFile(std::string const& path, ALCcontext* soundContext) {
    if (avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0) {
        format_ = nullptr;
        std::fprintf(stderr, "Video: cannot open %s\n", path.c_str());
        return false;
    }
    if (avformat_find_stream_info(format_, nullptr) < 0) return false;
    videoStream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (videoStream_ < 0 || !(video_ = openDecoder(format_, videoStream_))) {
        std::fprintf(stderr, "Video: %s holds no playable video\n", path.c_str());
        return false;
    }
    width_ = video_->width;
    height_ = video_->height;
    if (width_ <= 0 || height_ <= 0 || width_ > 8192 || height_ > 8192) return false;
    AVRational tb = format_->streams[videoStream_]->time_base;
    timeBase_ = tb.den ? double(tb.num) / double(tb.den) : 0;
    rgba_.assign(size_t(width_) * size_t(height_) * 4, 0);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    audioFrame_ = av_frame_alloc();
    if (!packet_ || !frame_ || !audioFrame_) return false;

    // The sound is optional: a video without it, or without a sound device, plays silently.
    audioStream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audioStream_ >= 0 && soundContext && (audio_ = openDecoder(format_, audioStream_))) {
        if (!converter_.open(audio_)) {
            avcodec_free_context(&audio_);
        } else {
            audioRate_ = converter_.rate();
            soundContext_ = soundContext;
            alGetError();
            alGenSources(1, &source_);
            alGenBuffers(ALsizei(buffers_.size()), buffers_.data());
            if (alGetError() != AL_NO_ERROR) {
                source_ = 0;
                soundContext_ = nullptr;
            } else {
                alSourcei(source_, AL_SOURCE_RELATIVE, AL_TRUE);
                freeBuffers_.assign(buffers_.begin(), buffers_.end());
            }
        }
    }
    if (!audio_) audioStream_ = -1;
    // The first frame is there before the first update.
    if (!nextVideoFrame()) return false;
    return true;
}

FfmpegVideoPlayer::~FfmpegVideoPlayer() {
    if (source_) {
        alSourceStop(source_);
        alSourcei(source_, AL_BUFFER, 0);
        alDeleteSources(1, &source_);
        alDeleteBuffers(ALsizei(buffers_.size()), buffers_.data());
    }
    releaseGl();
    sws_freeContext(scaler_);
    av_frame_free(&frame_);
    av_frame_free(&audioFrame_);
    av_packet_free(&packet_);
    avcodec_free_context(&video_);
    avcodec_free_context(&audio_);
    if (format_) avformat_close_input(&format_);
}

void FfmpegVideoPlayer::releaseGl() {
    if (texture_) glDeleteTextures(1, &texture_);
    if (vbo_) glDeleteBuffers(1, &vbo_);
    if (program_) glDeleteProgram(program_);
    texture_ = vbo_ = program_ = 0;
}

void FfmpegVideoPlayer::decodeAudio(AVPacket* packet) {
    if (avcodec_send_packet(audio_, packet) < 0) return;
    while (avcodec_receive_frame(audio_, audioFrame_) == 0) {
        converter_.append(audioFrame_, pcm_);
        av_frame_unref(audioFrame_);
    }
}

void FfmpegVideoPlayer::feedSound() {
    if (!source_) return;
    ALint processed = 0;
    alGetSourcei(source_, AL_BUFFERS_PROCESSED, &processed);
    while (processed-- > 0) {
        ALuint b = 0;
        alSourceUnqueueBuffers(source_, 1, &b);
        freeBuffers_.push_back(b);
    }
    // Queue in chunks of a tenth of a second, or what is left at the end.
    size_t const chunk = size_t(audioRate_ / 10) * 2;
    while (!freeBuffers_.empty() && (pcm_.size() >= chunk || (ended_ && !pcm_.empty()))) {
        size_t const n = std::min(chunk, pcm_.size());
        ALuint b = freeBuffers_.back();
        freeBuffers_.pop_back();
        alBufferData(b, AL_FORMAT_STEREO16, pcm_.data(), ALsizei(n * sizeof(int16_t)), audioRate_);
        alSourceQueueBuffers(source_, 1, &b);
        pcm_.erase(pcm_.begin(), pcm_.begin() + ptrdiff_t(n));
    }
    ALint state = 0, queued = 0;
    alGetSourcei(source_, AL_SOURCE_STATE, &state);
    alGetSourcei(source_, AL_BUFFERS_QUEUED, &queued);
    if (state != AL_PLAYING && state != AL_PAUSED && queued > 0) alSourcePlay(source_);
}

bool FfmpegVideoPlayer::nextVideoFrame() {
    for (;;) {
        int r = avcodec_receive_frame(video_, frame_);
        if (r == 0) {
            int64_t pts = frame_->best_effort_timestamp;
            nextFrameMs_ = pts == AV_NOPTS_VALUE ? nextFrameMs_ + 40.0 : double(pts) * timeBase_ * 1000.0;
            haveNext_ = true;
            return true;
        }
        if (r != AVERROR(EAGAIN) || videoDrained_) return false;
        if (av_read_frame(format_, packet_) < 0) {
            avcodec_send_packet(video_, nullptr);
            videoDrained_ = true;
            continue;
        }
        if (packet_->stream_index == videoStream_)
            avcodec_send_packet(video_, packet_);
        else if (packet_->stream_index == audioStream_)
            decodeAudio(packet_);
        av_packet_unref(packet_);
    }
}

bool FfmpegVideoPlayer::update(int64_t elapsedMs) {
    if (ended_) return false;
    bool shown = false;
    while (haveNext_ && nextFrameMs_ <= double(elapsedMs)) {
        // Each due frame is converted in turn; only the last one of them is drawn.
        haveNext_ = false;
        shown = true;
        if (frame_->width != width_ || frame_->height != height_) {
            av_frame_unref(frame_);
            nextVideoFrame();
            continue;
        }
        scaler_ = sws_getCachedContext(scaler_, width_, height_, AVPixelFormat(frame_->format), width_, height_,
                                       AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (scaler_) {
            uint8_t* dst[1] = {rgba_.data()};
            int stride[1] = {width_ * 4};
            sws_scale(scaler_, frame_->data, frame_->linesize, 0, height_, dst, stride);
        }
        av_frame_unref(frame_);
        ++framesShown_;
        textureDirty_ = true;
        nextVideoFrame();
    }
    (void)shown;
    if (!haveNext_) ended_ = true;
    feedSound();
    return !ended_ || shown;
}

namespace {
// The game's graphics context caches GL state: whatever the video changes is put back.
struct SavedGlState {
    GLint program = 0, activeTexture = 0, texture = 0, arrayBuffer = 0, viewport[4] = {};
    GLboolean blend = 0, depth = 0, scissor = 0;
    GLint attrib[2] = {};
    // The context's attribute cache remembers the pointers it set: they are put back too, or
    // the next composite would skip setting them and draw with the video's quad.
    struct Pointer {
        GLint size = 4, type = GL_FLOAT, normalized = 0, stride = 0, buffer = 0;
        void* offset = nullptr;
    } pointer[2];
    SavedGlState() {
        glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        glGetIntegerv(GL_ACTIVE_TEXTURE, &activeTexture);
        glActiveTexture(GL_TEXTURE0);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
        glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &arrayBuffer);
        glGetIntegerv(GL_VIEWPORT, viewport);
        blend = glIsEnabled(GL_BLEND);
        depth = glIsEnabled(GL_DEPTH_TEST);
        scissor = glIsEnabled(GL_SCISSOR_TEST);
        for (GLuint i = 0; i < 2; ++i) {
            glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &attrib[i]);
            glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_SIZE, &pointer[i].size);
            glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_TYPE, &pointer[i].type);
            glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, &pointer[i].normalized);
            glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &pointer[i].stride);
            glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &pointer[i].buffer);
            glGetVertexAttribPointerv(i, GL_VERTEX_ATTRIB_ARRAY_POINTER, &pointer[i].offset);
        }
    }
    ~SavedGlState() {
        glUseProgram(GLuint(program));
        glBindTexture(GL_TEXTURE_2D, GLuint(texture));
        glActiveTexture(GLenum(activeTexture));
        for (GLuint i = 0; i < 2; ++i) {
            Pointer const& p = pointer[i];
            glBindBuffer(GL_ARRAY_BUFFER, GLuint(p.buffer));
            glVertexAttribPointer(i, p.size, GLenum(p.type), GLboolean(p.normalized), p.stride, p.offset);
        }
        glBindBuffer(GL_ARRAY_BUFFER, GLuint(arrayBuffer));
        glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
        blend ? glEnable(GL_BLEND) : glDisable(GL_BLEND);
        depth ? glEnable(GL_DEPTH_TEST) : glDisable(GL_DEPTH_TEST);
        scissor ? glEnable(GL_SCISSOR_TEST) : glDisable(GL_SCISSOR_TEST);
        for (GLuint i = 0; i < 2; ++i) attrib[i] ? glEnableVertexAttribArray(i) : glDisableVertexAttribArray(i);
    }
};
}  // namespace

void FfmpegVideoPlayer::draw(int vw, int vh) {
    if (vw <= 0 || vh <= 0) return;
    SavedGlState saved;
    if (!program_) {
        GLuint v = compile(GL_VERTEX_SHADER, kVertex), f = compile(GL_FRAGMENT_SHADER, kFragment);
        if (!v || !f) return;
        program_ = glCreateProgram();
        glAttachShader(program_, v);
        glAttachShader(program_, f);
        glBindAttribLocation(program_, 0, "position");
        glBindAttribLocation(program_, 1, "uv");
        glLinkProgram(program_);
        glDeleteShader(v);
        glDeleteShader(f);
        float const quad[] = {-1, -1, 0, 1, 1, -1, 1, 1, -1, 1, 0, 0, 1, 1, 1, 0};
        glGenBuffers(1, &vbo_);
        glBindBuffer(GL_ARRAY_BUFFER, vbo_);
        glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
        glGenTextures(1, &texture_);
        glBindTexture(GL_TEXTURE_2D, texture_);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width_, height_, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba_.data());
        textureDirty_ = false;
    }
    glBindTexture(GL_TEXTURE_2D, texture_);
    if (textureDirty_) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, rgba_.data());
        textureDirty_ = false;
    }
    // Aspect fill: the quad grows past the viewport on the side that would leave bars.
    float const videoAspect = float(width_) / float(height_), viewAspect = float(vw) / float(vh);
    float sx = 1, sy = 1;
    if (videoAspect > viewAspect)
        sx = videoAspect / viewAspect;
    else
        sy = viewAspect / videoAspect;
    glViewport(0, 0, vw, vh);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glUseProgram(program_);
    glUniform2f(glGetUniformLocation(program_, "scale"), sx, sy);
    glUniform1i(glGetUniformLocation(program_, "frame"), 0);
    glActiveTexture(GL_TEXTURE0);
    glBindBuffer(GL_ARRAY_BUFFER, vbo_);
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<void*>(0));
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<void*>(8));
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void FfmpegVideoPlayer::pause() {
    if (source_) alSourcePause(source_);
}

void FfmpegVideoPlayer::resume() {
    if (source_) {
        ALint state = 0;
        alGetSourcei(source_, AL_SOURCE_STATE, &state);
        if (state == AL_PAUSED) alSourcePlay(source_);
    }
}

}  // namespace platform
