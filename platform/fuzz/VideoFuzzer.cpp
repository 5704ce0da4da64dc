// Videos are files the game ships beside it, but a damaged or replaced one must still neither
// crash nor hang the player: it plays what it can decode and ends.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/FfmpegVideoPlayer.h"
#include "platform/tests/LoopbackDevice.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static testing_support::LoopbackDevice loop(22050);
    // The player opens a path: the bytes go to an in-memory file.
    int fd = memfd_create("video", MFD_CLOEXEC);
    if (fd < 0) return 0;
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    if (done == size) {
        auto player = platform::FfmpegVideoPlayer::open("/proc/self/fd/" + std::to_string(fd), loop.context);
        if (player) {
            // Ten seconds of frames at most; a clip that declares more is simply cut off.
            for (int64_t t = 0; t < 10000 && player->update(t); t += 40) {
                if (loop.context) loop.peak(512);
            }
            player->pause();
            player->resume();
        }
    }
    close(fd);
    return 0;
}
