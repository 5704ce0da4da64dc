#pragma once
// Decodes a whole Ogg Opus stream held in memory into interleaved 16-bit PCM at 48 kHz.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Audio {

class OpusDecoder {
public:
    static constexpr int sampleRate = 48000;

    struct Result {
        bool ok = false;
        int channels = 0;              // 1 or 2 when ok
        std::vector<int16_t> samples;  // interleaved; frames() * channels values
        std::string error;             // why decoding failed, for the log

        size_t frames() const { return channels > 0 ? samples.size() / channels : 0; }
    };

    // Mono and stereo streams only. A stream that ends before its announced length keeps what
    // was decoded; a negative length, a decode error or a change of channel count fails.
    static Result decode(uint8_t const* data, size_t size);
};

}  // namespace Audio
