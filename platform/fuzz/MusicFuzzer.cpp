// Music tracks come from data archives: whatever the bytes, making, playing, seeking and feeding
// a player must neither crash nor hang.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/StreamingMusicPlayer.h"
#include "platform/tests/LoopbackDevice.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static testing_support::LoopbackDevice loop(22050);
    if (!loop.context) return 0;
    auto player = platform::StreamingMusicPlayer::create(data, size, loop.context);
    if (!player) return 0;
    player->setLooping(true);
    player->setVolume(0.5f);
    player->play();
    for (int i = 0; i < 4; ++i) {
        loop.peak(4096);
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
