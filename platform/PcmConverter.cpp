#include "platform/PcmConverter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
}

#include <algorithm>

namespace platform {

PcmConverter::~PcmConverter() {
    if (resampler_) swr_free(&resampler_);
}

bool PcmConverter::open(AVCodecContext const* codec) {
    if (resampler_) swr_free(&resampler_);
    rate_ = codec->sample_rate > 0 && codec->sample_rate <= 192000 ? codec->sample_rate : 44100;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    AVChannelLayout in{};
    if (codec->ch_layout.nb_channels > 0)
        av_channel_layout_copy(&in, &codec->ch_layout);
    else
        av_channel_layout_default(&in, 2);
    int const r = swr_alloc_set_opts2(&resampler_, &stereo, AV_SAMPLE_FMT_S16, rate_, &in, codec->sample_fmt,
                                      codec->sample_rate > 0 ? codec->sample_rate : rate_, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (r < 0 || swr_init(resampler_) < 0) {
        if (resampler_) swr_free(&resampler_);
        return false;
    }
    return true;
}

int PcmConverter::append(AVFrame const* frame, std::vector<int16_t>& pcm) {
    if (!resampler_) return 0;
    int const outMax = swr_get_out_samples(resampler_, frame->nb_samples);
    if (outMax <= 0) return 0;
    size_t const at = pcm.size();
    pcm.resize(at + size_t(outMax) * 2);
    uint8_t* out = reinterpret_cast<uint8_t*>(pcm.data() + at);
    int const got =
        swr_convert(resampler_, &out, outMax, const_cast<uint8_t const**>(frame->extended_data), frame->nb_samples);
    pcm.resize(at + size_t(std::max(got, 0)) * 2);
    return std::max(got, 0);
}

}  // namespace platform
