#include "os/services/Music.h"

#include <AL/alc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
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
// built first, so it outlives the thread that uses it. Null when its thread cannot start: the
// game then runs without music.
SerialQueue* queue() {
    state();
    static std::unique_ptr<SerialQueue> q = []() -> std::unique_ptr<SerialQueue> {
        try {
            return std::make_unique<SerialQueue>("Serial Dispatch Queue", std::chrono::milliseconds(10), [] {
                auto& p = state().player;
                if (!p || !p->isPlaying()) return false;
                p->service();
                return true;
            });
        } catch (std::system_error const& e) {
            std::fprintf(stderr, "Music: cannot start its thread (%s); no music this run\n",
                         e.code().message().c_str());
            return nullptr;
        }
    }();
    return q.get();
}

// Without the queue's thread no player exists, and the caller is the only one touching the state.
void queueAsync(std::function<void()> job) {
    if (SerialQueue* q = queue())
        q->async(std::move(job));
    else
        job();
}

void queueSync(std::function<void()> const& job) {
    if (SerialQueue* q = queue())
        q->sync(job);
    else
        job();
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
    if (!queue()) return;  // nothing would feed the track
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

    std::string name = path ? path : "";
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    auto start = [bytes = std::move(bytes), make = std::move(make), soundContext, loop, name = std::move(name)]() mutable {
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
        // Which track a player hears, for whoever reads the log.
        std::fprintf(stderr, "Music: playing %s\n", name.c_str());
    };
    if (startNow)
        queueSync(start);
    else
        queueAsync(std::move(start));
}

// Waits, so that the player has let go of the sound context before its owner destroys it.
void stopMusic() {
    queueSync([] {
        // When the track a player heard ends, for whoever reads the log.
        if (state().player) std::fprintf(stderr, "Music: stopped\n");
        dropPlayer();
    });
}

void pauseMusic() {
    queueAsync([] {
        auto& p = state().player;
        if (p && p->isPlaying()) p->pause();
    });
}

void resumeMusic() {
    queueAsync([] {
        auto& p = state().player;
        if (p && !p->isPlaying()) p->play();
    });
}

// Compared and stored on the queue, so two changes in a row both reach the player.
void setMusicVolume(float volume) {
    queueAsync([volume] {
        MusicState& s = state();
        if (volume == s.volume) return;
        if (s.player) s.player->setVolume(volume);
        s.volume = volume;
    });
}

void restartMusicClock() { startMs.store(nowMs()); }

int64_t musicStartMs() { return startMs.load(); }

void syncMusic(uint64_t positionMs, uint64_t toleranceMs) {
    queueAsync([positionMs, toleranceMs] {
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
    queueSync([&] { fn(state().player.get()); });
}

float storedVolume() {
    float v = 1.0f;
    queueSync([&] { v = state().volume; });
    return v;
}

}  // namespace music_services
