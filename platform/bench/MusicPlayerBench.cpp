// Starting a track: the music player's open, decode, conversion and buffer queueing of its first
// stretch, beside FFmpeg decoding the same stretch bare (no conversion, no sound device).
#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/StreamingMusicPlayer.h"
#include "platform/tests/LoopbackDevice.h"
#include "testing/TestPaths.h"

namespace {

std::string const& track() {
    static std::string const bytes = [] {
        std::ifstream in(testing_support::sourceDir() / "platform/tests/media/tone.m4a", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }();
    return bytes;
}

// What the player queues at its start: four buffers of 8192 frames.
constexpr int64_t kStartFrames = 4 * 8192;

void BM_PlayerStart(benchmark::State& state) {
    testing_support::LoopbackDevice loop;
    auto const& bytes = track();
    for (auto _ : state) {
        auto player = platform::StreamingMusicPlayer::create(reinterpret_cast<uint8_t const*>(bytes.data()),
                                                             bytes.size(), loop.context);
        player->play();
        benchmark::DoNotOptimize(player.get());
    }
}
BENCHMARK(BM_PlayerStart)->Unit(benchmark::kMicrosecond);

struct Memory {
    std::string const* bytes;
    size_t pos = 0;
};

int readMemory(void* opaque, uint8_t* buf, int size) {
    auto* m = static_cast<Memory*>(opaque);
    size_t n = std::min(size_t(size), m->bytes->size() - m->pos);
    if (n == 0) return AVERROR_EOF;
    std::memcpy(buf, m->bytes->data() + m->pos, n);
    m->pos += n;
    return int(n);
}

// Baseline: the same bytes through the demuxer and decoder only.
void BM_BareDecode(benchmark::State& state) {
    auto const& bytes = track();
    for (auto _ : state) {
        Memory m{&bytes};
        auto* buffer = static_cast<unsigned char*>(av_malloc(32768));
        AVIOContext* io = avio_alloc_context(buffer, 32768, 0, &m, &readMemory, nullptr, nullptr);
        AVFormatContext* format = avformat_alloc_context();
        format->pb = io;
        avformat_open_input(&format, nullptr, nullptr, nullptr);
        avformat_find_stream_info(format, nullptr);
        AVCodec const* decoder = nullptr;
        int stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        AVCodecContext* codec = avcodec_alloc_context3(decoder);
        avcodec_parameters_to_context(codec, format->streams[stream]->codecpar);
        avcodec_open2(codec, decoder, nullptr);
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        int64_t frames = 0;
        while (frames < kStartFrames && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream && avcodec_send_packet(codec, packet) >= 0)
                while (avcodec_receive_frame(codec, frame) == 0) frames += frame->nb_samples;
            av_packet_unref(packet);
        }
        benchmark::DoNotOptimize(frames);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
}
BENCHMARK(BM_BareDecode)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
