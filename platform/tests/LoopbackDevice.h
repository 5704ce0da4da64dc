#pragma once
// OpenAL's loopback device for tests: a context that renders only when asked, so what was played
// can be measured.
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace testing_support {

struct LoopbackDevice {
    LPALCRENDERSAMPLESSOFT render =
        reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
    ALCdevice* device = nullptr;
    ALCcontext* context = nullptr;

    // Stereo 16-bit output at rate; the context is made current.
    explicit LoopbackDevice(int rate = 44100) {
        auto open =
            reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
        if (!open || !render) return;
        device = open(nullptr);
        ALCint attrs[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_SHORT_SOFT,
                          ALC_FREQUENCY, rate, 0};
        if (device) context = alcCreateContext(device, attrs);
        if (context) alcMakeContextCurrent(context);
    }
    ~LoopbackDevice() {
        alcMakeContextCurrent(nullptr);
        if (context) alcDestroyContext(context);
        if (device) alcCloseDevice(device);
    }
    LoopbackDevice(LoopbackDevice const&) = delete;
    LoopbackDevice& operator=(LoopbackDevice const&) = delete;

    // Renders the next frames and returns their peak.
    int peak(int frames) {
        std::vector<int16_t> pcm(size_t(frames) * 2);
        render(device, pcm.data(), frames);
        int p = 0;
        for (int16_t s : pcm) p = std::max(p, std::abs(int(s)));
        return p;
    }
};

}  // namespace testing_support
