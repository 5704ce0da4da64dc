#include "os/services/Music.h"

#include <AL/alc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "os/services/PlatformServices.h"
#include "os/services/SerialQueue.h"
#include "platform/StreamingMusicPlayer.h"

namespace {

// State touched only on the queue, except where noted.
struct MusicState {
    std::unique_ptr<platform::MusicPlayer> player;
    float volume = 1.0f;
    music_services::Bytes holder;  // the bytes the player reads; kept until the next playMusic
};

std::atomic<int64_t> startMs{0};

std::mutex hooksMutex;
music_services::FileOpener opener;
music_services::PlayerFactory factory;

MusicState& state() {
    static MusicState s;
    return s;
}

// Built on first use and stopped at exit, after the jobs still queued have run. The state is
// built first, so it outlives the thread that uses it.
SerialQueue& queue() {
    state();
    static SerialQueue q("Serial Dispatch Queue", std::chrono::milliseconds(10), [] {
        auto& p = state().player;
        if (!p || !p->isPlaying()) return false;
        p->service();
        return true;
    });
    return q;
}

music_services::Bytes readPlainFile(char const* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    auto bytes = std::make_shared<std::vector<uint8_t>>(std::istreambuf_iterator<char>(in),
                                                        std::istreambuf_iterator<char>());
    return {bytes, bytes->data(), bytes->size()};
}

void dropPlayer() {
    MusicState& s = state();
    if (!s.player) return;
    s.player->stop();
    s.player.reset();
}

}  // namespace

void playMusic(char const* path, bool loop, bool startNow) {
    music_services::FileOpener open;
    music_services::PlayerFactory make;
    {
        std::lock_guard<std::mutex> lock(hooksMutex);
        open = opener;
        make = factory;
    }
    music_services::Bytes bytes;
    if (path) bytes = open ? open(path) : readPlainFile(path);
    if (!bytes.data || bytes.size == 0) bytes = {};
    void* soundContext = alcGetCurrentContext();

    auto start = [bytes = std::move(bytes), make = std::move(make), soundContext, loop]() mutable {
        MusicState& s = state();
        dropPlayer();
        s.holder = std::move(bytes);
        if (!s.holder.data) return;
        s.player = make ? make(s.holder, soundContext)
                        : platform::StreamingMusicPlayer::create(s.holder.data, s.holder.size,
                                                                 static_cast<ALCcontext*>(soundContext));
        if (!s.player) {
            std::fprintf(stderr, "Music: cannot play the track\n");
            return;
        }
        s.player->setLooping(loop);
        s.player->setVolume(s.volume);
        s.player->play();
        startMs.store(nowMs());
    };
    if (startNow)
        queue().sync(start);
    else
        queue().async(std::move(start));
}

// Waits, so that the player has let go of the sound context before its owner destroys it.
void stopMusic() { queue().sync([] { dropPlayer(); }); }

void pauseMusic() {
    queue().async([] {
        auto& p = state().player;
        if (p && p->isPlaying()) p->pause();
    });
}

void resumeMusic() {
    queue().async([] {
        auto& p = state().player;
        if (p && !p->isPlaying()) p->play();
    });
}

// Compared and stored on the queue, so two changes in a row both reach the player.
void setMusicVolume(float volume) {
    queue().async([volume] {
        MusicState& s = state();
        if (volume == s.volume) return;
        if (s.player) s.player->setVolume(volume);
        s.volume = volume;
    });
}

void restartMusicClock() { startMs.store(nowMs()); }

int64_t musicStartMs() { return startMs.load(); }

void syncMusic(uint64_t positionMs, uint64_t toleranceMs) {
    queue().async([positionMs, toleranceMs] {
        auto& p = state().player;
        if (!p) return;
        double const seconds = p->currentTime();
        int64_t const current = seconds > 0 ? int64_t(seconds * 1000.0) : 0;
        // Signed: a track behind the position must not wrap into a huge distance.
        int64_t const distance = std::llabs(current - int64_t(positionMs));
        if (distance <= int64_t(toleranceMs)) return;
        p->setCurrentTime(double(positionMs) / 1000.0);
        startMs.store(nowMs() - int64_t(positionMs));
    });
}

char const* musicExtension() { return ".m4a"; }

namespace music_services {

void setFileOpener(FileOpener o) {
    std::lock_guard<std::mutex> lock(hooksMutex);
    opener = std::move(o);
}

void setPlayerFactory(PlayerFactory f) {
    std::lock_guard<std::mutex> lock(hooksMutex);
    factory = std::move(f);
}

void runOnQueue(std::function<void(platform::MusicPlayer*)> const& fn) {
    queue().sync([&] { fn(state().player.get()); });
}

float storedVolume() {
    float v = 1.0f;
    queue().sync([&] { v = state().volume; });
    return v;
}

}  // namespace music_services
