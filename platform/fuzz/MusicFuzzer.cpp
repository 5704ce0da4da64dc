// Music tracks come from data archives: whatever the bytes, making, playing, seeking and feeding
// a player must neither crash nor hang.
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/StreamingMusicPlayer.h"

namespace {

struct Loopback {
    ALCdevice* device = nullptr;
    ALCcontext* context = nullptr;
    LPALCRENDERSAMPLESSOFT render =
        reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
    Loopback() {
        auto open =
            reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
        if (!open || !render) return;
        device = open(nullptr);
        ALCint attrs[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_SHORT_SOFT,
                          ALC_FREQUENCY, 22050, 0};
        if (device) context = alcCreateContext(device, attrs);
        if (context) alcMakeContextCurrent(context);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static Loopback loop;
    if (!loop.context) return 0;
    auto player = platform::StreamingMusicPlayer::create(data, size, loop.context);
    if (!player) return 0;
    player->setLooping(true);
    player->setVolume(0.5f);
    player->play();
    std::vector<int16_t> pcm(4096 * 2);
    for (int i = 0; i < 4; ++i) {
        loop.render(loop.device, pcm.data(), 4096);
        player->service();
    }
    player->setCurrentTime(0.25);
    player->pause();
    player->service();
    player->play();
    (void)player->currentTime();
    player->stop();
    return 0;
}
