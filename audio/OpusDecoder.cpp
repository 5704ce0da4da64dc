#include "audio/OpusDecoder.h"

#include <opusfile.h>

#include <algorithm>
#include <memory>

namespace Audio {

namespace {

struct CloseOpusFile {
    void operator()(OggOpusFile* file) const { op_free(file); }
};

// Enough for the longest Opus packet (120 ms) of a stereo stream.
constexpr int64_t chunkFrames = 5760;
// The announced length only sizes the first allocation: a forged one must not reserve gigabytes.
constexpr int64_t maxReserveFrames = int64_t(OpusDecoder::sampleRate) * 60;

OpusDecoder::Result failure(std::string why) {
    OpusDecoder::Result result;
    result.error = std::move(why);
    return result;
}

}  // namespace

OpusDecoder::Result OpusDecoder::decode(uint8_t const* data, size_t size) {
    if (data == nullptr || size == 0) return failure("empty file");
    int error = 0;
    std::unique_ptr<OggOpusFile, CloseOpusFile> file(op_open_memory(data, size, &error));
    if (!file) return failure("not an Ogg Opus stream (error " + std::to_string(error) + ")");

    int const channels = op_channel_count(file.get(), -1);
    if (channels != 1 && channels != 2)
        return failure("unsupported channel count " + std::to_string(channels));
    int64_t const total = op_pcm_total(file.get(), -1);
    if (total < 0) return failure("no stream length (error " + std::to_string(total) + ")");

    Result result;
    result.channels = channels;
    result.samples.reserve(size_t(std::min(total, maxReserveFrames)) * channels);
    int64_t position = 0;
    while (position < total) {
        int64_t const room = std::min(total - position, chunkFrames);
        result.samples.resize(size_t(position + room) * channels);
        int link = 0;
        int const got = op_read(file.get(), result.samples.data() + position * channels,
                                int(room * channels), &link);
        if (got < 0) return failure("decode error " + std::to_string(got));
        // A truncated stream runs dry before its announced length: keep what it gave.
        if (got == 0) break;
        if (op_channel_count(file.get(), link) != channels)
            return failure("channel count changes inside the stream");
        position += got;
    }
    result.samples.resize(size_t(position) * channels);
    result.ok = true;
    return result;
}

}  // namespace Audio
