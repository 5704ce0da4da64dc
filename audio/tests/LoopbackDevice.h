#pragma once
// An audio context on OpenAL Soft's loopback device: the test renders the mix itself, so it
// hears exactly what the game played, frame by frame.
#ifndef AL_ALEXT_PROTOTYPES
#define AL_ALEXT_PROTOTYPES
#endif
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <cmath>
#include <string>
#include <vector>

#include "audio/Context.h"
#include "testing/TestPaths.h"

namespace audio_test {

inline constexpr int mixRate = 48000;
// The game's own parameters: fade 0.001 per ms, linear clamped distance, 1280 px at 85 px/unit.
inline constexpr float viewWidth = 1280.0f / 85.0f;
inline Audio::Context::Parameters gameParameters() { return {0.001f, AL_LINEAR_DISTANCE_CLAMPED, viewWidth, viewWidth}; }

struct Levels {
    float left = 0, right = 0;  // RMS of each output channel
};

class LoopbackContext {
public:
    explicit LoopbackContext(Audio::Context::Parameters const& parameters = gameParameters())
        : device_(openDevice()), context(parameters, device_, attributes()) {}

    // Advances the game by dtMs: one context update, then that much sound is mixed.
    Levels run(float dtMs) {
        context.update(dtMs);
        return render(int(dtMs * mixRate / 1000.0f));
    }

    Levels render(int frames) {
        std::vector<float> mix(size_t(frames) * 2);
        if (device_ && frames > 0) alcRenderSamplesSOFT(device_, mix.data(), frames);
        Levels l;
        for (int i = 0; i < frames; ++i) {
            l.left += mix[2 * i] * mix[2 * i];
            l.right += mix[2 * i + 1] * mix[2 * i + 1];
        }
        if (frames > 0) {
            l.left = std::sqrt(l.left / frames);
            l.right = std::sqrt(l.right / frames);
        }
        return l;
    }

    bool hasDevice() const { return device_ != nullptr; }

private:
    static ALCdevice* openDevice() {
        if (!alcIsExtensionPresent(nullptr, "ALC_SOFT_loopback")) return nullptr;
        return alcLoopbackOpenDeviceSOFT(nullptr);
    }
    static int const* attributes() {
        static int const attrs[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_FLOAT_SOFT,
                                    ALC_FREQUENCY, mixRate, ALC_HRTF_SOFT, ALC_FALSE, 0};
        return attrs;
    }

    ALCdevice* device_;

public:
    Audio::Context context;
};

inline std::string dataPath(std::string const& name) {
    return (testing_support::sourceDir() / "audio" / "tests" / "data" / name).string();
}

inline SoundParams looping(uint8_t category = 0) {
    return SoundParams({0, 0, 0}, SoundParams::looping, 1.0f, category, 1.25f, 2.0f);
}
// Half a second of a mono tone, and a 50 ms mono click.
inline SoundDescriptor tone(SoundParams params = looping()) { return {dataPath("tone_mono.opus"), params}; }
inline SoundDescriptor click(SoundParams params = {}) { return {dataPath("click_mono.opus"), params}; }

}  // namespace audio_test
