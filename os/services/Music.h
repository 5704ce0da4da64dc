#pragma once
// Music: one track at a time, decoded and played on the music queue ("Serial Dispatch Queue").
// Every operation reaches that one thread in the order it was called, so a stop issued after a
// deferred start stops it, and every volume change is applied.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/MusicPlayer.h"

// Stops any track, then plays the file at path (looping endlessly or once). startNow: returns
// once the track plays; otherwise the start is queued.
void playMusic(char const* path, bool loop, bool startNow);
void stopMusic();
void pauseMusic();
void resumeMusic();
void setMusicVolume(float volume);
// The music start time becomes now.
void restartMusicClock();
// Milliseconds since process start when the track started (moved by syncMusic).
int64_t musicStartMs();
// Seeks the track to positionMs when it is further than toleranceMs from it.
void syncMusic(uint64_t positionMs, uint64_t toleranceMs);
// The file extension of music tracks: ".m4a".
char const* musicExtension();

namespace music_services {

// A track's bytes and whatever keeps them alive.
struct Bytes {
    std::shared_ptr<void const> owner;
    uint8_t const* data = nullptr;
    size_t size = 0;
};
// How a path becomes bytes; the shell installs the file system. Without one, plain files are read.
using FileOpener = std::function<Bytes(char const* path)>;
void setFileOpener(FileOpener opener);

// Makes a player for the bytes, or null when they are not a playable track. Runs on the queue;
// soundContext is the sound context that was current on the thread that called playMusic.
using PlayerFactory = std::function<std::unique_ptr<platform::MusicPlayer>(Bytes const&, void* soundContext)>;
// Null restores the real player.
void setPlayerFactory(PlayerFactory factory);

// Runs fn on the music queue and waits for it (tests look at the player there).
void runOnQueue(std::function<void(platform::MusicPlayer*)> const& fn);
// The stored music volume (read on the queue).
float storedVolume();

}  // namespace music_services
