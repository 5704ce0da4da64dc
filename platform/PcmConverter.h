#pragma once
// Turns a sound decoder's frames into interleaved stereo 16-bit samples at the decoder's own rate,
// the form the OpenAL streams take.
#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct SwrContext;

namespace platform {

class PcmConverter {
public:
    PcmConverter() = default;
    ~PcmConverter();
    PcmConverter(PcmConverter const&) = delete;
    PcmConverter& operator=(PcmConverter const&) = delete;

    // False when the decoder's sample format or layout cannot be converted.
    bool open(AVCodecContext const* codec);
    // The output rate: the decoder's, or 44100 when it gives none that is usable.
    int rate() const { return rate_; }
    // Appends the frame's samples to pcm; the number of stereo frames appended.
    int append(AVFrame const* frame, std::vector<int16_t>& pcm);

private:
    SwrContext* resampler_ = nullptr;
    int rate_ = 44100;
};

}  // namespace platform
